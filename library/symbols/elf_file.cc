#include "symbols/elf_file.h"

#include <elfutils/libdwelf.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velkor { namespace library {

namespace {

// ---- Limits against hostile files ------------------------------------------

// A compressed section is refused when it claims to inflate to more than
// this many times its stored size (deflate cannot exceed about 1032), plus
// a mebibyte, or to more than 4 GiB: libelf allocates what it claims.
const uint64_t max_inflate_ratio = 1100;
const uint64_t max_inflated_section = uint64_t(4) << 30;
// Longer interpreter names are refused: the kernel takes at most a page.
const uint64_t max_interpreter_length = 4096;
// Entries of a dynamic section read at most.
const size_t max_dynamic_entries = size_t(1) << 16;

std::string errno_text(int error) { return std::strerror(error); }

class elf_handle_t {
 public:
  explicit elf_handle_t(Elf* elf) : elf_(elf) {}
  ~elf_handle_t() {
    if (elf_ != nullptr) elf_end(elf_);
  }
  Elf* get() const { return elf_; }

 private:
  elf_handle_t(const elf_handle_t&) = delete;
  elf_handle_t& operator=(const elf_handle_t&) = delete;
  Elf* elf_;
};

// libelf reads nothing before it is told the version its caller knows;
// telling it again changes nothing.
void start_libelf() { elf_version(EV_CURRENT); }

std::string elf_error() {
  const char* text = elf_errmsg(-1);
  return text != nullptr ? text : "unknown error";
}

bool check_inflated_size(const char* name, uint64_t stored, uint64_t inflated,
                         std::string* why) {
  if (inflated <= max_inflated_section &&
      inflated <= stored * max_inflate_ratio + (uint64_t(1) << 20)) {
    return true;
  }
  *why = std::string("damaged ELF file: the compressed section ") + (name ? name : "?") +
         " claims " + std::to_string(inflated) + " bytes from " + std::to_string(stored);
  return false;
}

// The parts of a colon-separated search path; empty parts are dropped.
std::vector<std::string> split_path(const char* text) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* c = text;; ++c) {
    if (*c == ':' || *c == '\0') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*c == '\0') break;
    } else {
      part += *c;
    }
  }
  return parts;
}

}  // namespace

// ---- Files -----------------------------------------------------------------

int open_regular_file(const std::string& path, std::string* why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *why = path + ": " + errno_text(errno);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = path + ": not a regular file";
    return -1;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *why = path + ": " + errno_text(errno);
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *why = path + ": not a regular file";
    return -1;
  }
  return fd;
}


// ---- Headers ---------------------------------------------------------------

bool read_elf_facts(int fd, bool want_loads, elf_facts_t* facts, std::string* why) {
  start_libelf();
  elf_handle_t elf(elf_begin(fd, ELF_C_READ_MMAP, nullptr));
  if (elf.get() == nullptr) {
    *why = "not an ELF file, or a truncated one (" + elf_error() + ")";
    return false;
  }
  if (elf_kind(elf.get()) != ELF_K_ELF) {
    *why = "not an ELF file";
    return false;
  }
  GElf_Ehdr header;
  if (gelf_getehdr(elf.get(), &header) == nullptr) {
    *why = "truncated or damaged ELF header: " + elf_error();
    return false;
  }
  facts->type = header.e_type;
  facts->machine = header.e_machine;
  facts->elf_class = header.e_ident[EI_CLASS];
  if (want_loads && header.e_type != ET_EXEC && header.e_type != ET_DYN) {
    *why = "an ELF file of type " + std::to_string(header.e_type) +
           ", neither an executable nor a shared library";
    return false;
  }
  size_t segments = 0;
  if (elf_getphdrnum(elf.get(), &segments) != 0) {
    *why = "truncated or damaged ELF program headers: " + elf_error();
    return false;
  }
  for (size_t i = 0; i < segments; ++i) {
    GElf_Phdr segment;
    if (gelf_getphdr(elf.get(), static_cast<int>(i), &segment) == nullptr) {
      *why = "truncated or damaged ELF program headers: " + elf_error();
      return false;
    }
    if (segment.p_type == PT_LOAD) {
      elf_load_segment_t load;
      load.offset = segment.p_offset;
      load.file_size = segment.p_filesz;
      load.memory_size = segment.p_memsz;
      load.vaddr = segment.p_vaddr;
      load.flags = segment.p_flags;
      facts->loads.push_back(load);
    }
  }
  if (want_loads && facts->loads.empty()) {
    *why = "no loadable segment in the ELF file";
    return false;
  }
  size_t names = 0;
  bool have_names = elf_getshdrstrndx(elf.get(), &names) == 0;
  for (Elf_Scn* section = elf_nextscn(elf.get(), nullptr); section != nullptr;
       section = elf_nextscn(elf.get(), section)) {
    GElf_Shdr section_header;
    if (gelf_getshdr(section, &section_header) == nullptr) {
      *why = "truncated or damaged ELF section headers: " + elf_error();
      return false;
    }
    if (section_header.sh_type == SHT_NOBITS) continue;
    const char* name =
        have_names ? elf_strptr(elf.get(), names, section_header.sh_name) : nullptr;
    if ((section_header.sh_flags & SHF_COMPRESSED) != 0) {
      GElf_Chdr compression;
      if (gelf_getchdr(section, &compression) == nullptr) {
        *why = std::string("damaged ELF file: the compressed section ") + (name ? name : "?") +
               " cannot be read: " + elf_error();
        return false;
      }
      if (!check_inflated_size(name, section_header.sh_size, compression.ch_size, why)) {
        return false;
      }
    } else if (name != nullptr && std::strncmp(name, ".zdebug", 7) == 0) {
      ssize_t inflated = dwelf_scn_gnu_compressed_size(section);
      if (inflated > 0 && !check_inflated_size(name, section_header.sh_size,
                                               static_cast<uint64_t>(inflated), why)) {
        return false;
      }
    }
  }
  const void* build_id = nullptr;
  ssize_t build_id_length = dwelf_elf_gnu_build_id(elf.get(), &build_id);
  if (build_id_length > 0) {
    facts->build_id.assign(static_cast<const char*>(build_id),
                           static_cast<size_t>(build_id_length));
  }
  GElf_Word crc = 0;
  const char* link = dwelf_elf_gnu_debuglink(elf.get(), &crc);
  if (link != nullptr) {
    facts->debuglink = link;
    facts->debuglink_crc = crc;
  }
  return true;
}

bool read_elf_dependencies(int fd, elf_dependencies_t* dependencies, std::string* why) {
  start_libelf();
  elf_handle_t elf(elf_begin(fd, ELF_C_READ_MMAP, nullptr));
  if (elf.get() == nullptr || elf_kind(elf.get()) != ELF_K_ELF) {
    *why = "not an ELF file";
    return false;
  }
  size_t segments = 0;
  if (elf_getphdrnum(elf.get(), &segments) != 0) {
    *why = "truncated or damaged ELF program headers: " + elf_error();
    return false;
  }
  for (size_t i = 0; i < segments; ++i) {
    GElf_Phdr segment;
    if (gelf_getphdr(elf.get(), static_cast<int>(i), &segment) == nullptr) {
      *why = "truncated or damaged ELF program headers: " + elf_error();
      return false;
    }
    if (segment.p_type != PT_INTERP) continue;
    size_t file_size = 0;
    const char* image = elf_rawfile(elf.get(), &file_size);
    if (image == nullptr || segment.p_offset > file_size ||
        segment.p_filesz > file_size - segment.p_offset || segment.p_filesz == 0 ||
        segment.p_filesz > max_interpreter_length) {
      *why = "damaged ELF file: its interpreter name is empty, too long or outside the file";
      return false;
    }
    const char* name = image + segment.p_offset;
    dependencies->interpreter.assign(name, strnlen(name, segment.p_filesz));
  }
  for (Elf_Scn* section = elf_nextscn(elf.get(), nullptr); section != nullptr;
       section = elf_nextscn(elf.get(), section)) {
    GElf_Shdr header;
    if (gelf_getshdr(section, &header) == nullptr) {
      *why = "truncated or damaged ELF section headers: " + elf_error();
      return false;
    }
    if (header.sh_type != SHT_DYNAMIC) continue;
    Elf_Data* data = elf_getdata(section, nullptr);
    if (data == nullptr) {
      *why = "damaged ELF file: its dynamic section cannot be read: " + elf_error();
      return false;
    }
    size_t entry_size = gelf_fsize(elf.get(), ELF_T_DYN, 1, EV_CURRENT);
    size_t entries = entry_size == 0 ? 0 : data->d_size / entry_size;
    for (size_t i = 0; i < entries && i < max_dynamic_entries; ++i) {
      GElf_Dyn entry;
      if (gelf_getdyn(data, static_cast<int>(i), &entry) == nullptr) break;
      if (entry.d_tag == DT_NULL) break;
      if (entry.d_tag != DT_NEEDED && entry.d_tag != DT_RPATH && entry.d_tag != DT_RUNPATH) {
        continue;
      }
      const char* text = elf_strptr(elf.get(), header.sh_link, entry.d_un.d_val);
      if (text == nullptr) {
        *why = "damaged ELF file: a name in its dynamic section lies outside its strings";
        return false;
      }
      if (entry.d_tag == DT_NEEDED) {
        dependencies->needed.push_back(text);
      } else if (entry.d_tag == DT_RPATH) {
        dependencies->rpath = split_path(text);
      } else {
        dependencies->runpath = split_path(text);
        dependencies->has_runpath = true;
      }
    }
  }
  return true;
}

// ---- Addresses -------------------------------------------------------------

bool elf_offset_to_vaddr(const std::vector<elf_load_segment_t>& loads, uint64_t offset,
                         uint64_t* vaddr) {
  for (int pass = 0; pass < 2; ++pass) {
    for (const elf_load_segment_t& load : loads) {
      uint64_t size = pass == 0 ? load.file_size : load.memory_size;
      if (offset >= load.offset && offset - load.offset < size) {
        *vaddr = load.vaddr + (offset - load.offset);
        return true;
      }
    }
  }
  return false;
}

bool elf_vaddr_to_offset(const std::vector<elf_load_segment_t>& loads, uint64_t vaddr,
                         uint64_t* offset) {
  for (const elf_load_segment_t& load : loads) {
    if (vaddr >= load.vaddr && vaddr - load.vaddr < load.memory_size) {
      *offset = load.offset + (vaddr - load.vaddr);
      return true;
    }
  }
  return false;
}

}}  // namespace velkor::library
