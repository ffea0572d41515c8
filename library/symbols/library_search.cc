#include "symbols/library_search.h"

#include <elf.h>
#include <glob.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>

namespace velkor { namespace library {

namespace {

// Include lines followed at most in depth, against a file that includes itself.
const int max_include_depth = 8;

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void read_config(const std::string& file, int depth, std::vector<std::string>* folders,
                 std::set<std::string>* seen) {
  std::ifstream in(file);
  std::string line;
  while (in && std::getline(in, line)) {
    size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    line = trimmed(line);
    if (line.empty()) continue;
    if (line.compare(0, 8, "include ") == 0 || line.compare(0, 8, "include\t") == 0) {
      if (depth >= max_include_depth) continue;
      std::string pattern = trimmed(line.substr(8));
      if (pattern.empty()) continue;
      if (pattern[0] != '/') pattern = folder_of(file) + "/" + pattern;
      glob_t found;
      if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
          read_config(found.gl_pathv[i], depth + 1, folders, seen);
        }
      }
      globfree(&found);
      continue;
    }
    if (line.compare(0, 6, "hwcap ") == 0) continue;
    // Old configuration files may give a folder as "folder=type".
    size_t type = line.find('=');
    if (type != std::string::npos) line = trimmed(line.substr(0, type));
    if (!line.empty() && line[0] == '/' && seen->insert(line).second) folders->push_back(line);
  }
}

// The canonical form of a path; the path itself when it cannot be resolved.
std::string canonical_path(const std::string& path) {
  std::unique_ptr<char, void (*)(void*)> resolved(realpath(path.c_str(), nullptr), std::free);
  return resolved ? std::string(resolved.get()) : path;
}

// A search folder with $ORIGIN and ${ORIGIN} replaced by the folder of the
// object that gives it.
std::string expand_origin(const std::string& folder, const std::string& origin) {
  std::string expanded;
  for (size_t i = 0; i < folder.size();) {
    if (folder.compare(i, 7, "$ORIGIN") == 0) {
      expanded += origin;
      i += 7;
    } else if (folder.compare(i, 9, "${ORIGIN}") == 0) {
      expanded += origin;
      i += 9;
    } else {
      expanded += folder[i++];
    }
  }
  return expanded;
}

// An object of the search: a module that was loaded (or the program), with
// what it asks for and who loaded it.
struct object_t {
  std::string path;  // canonical
  elf_dependencies_t dependencies;
  int loaded_by;  // index in the object list; -1 for the program
};

}  // namespace

std::vector<std::string> loader_config_folders(const std::string& config_file) {
  std::vector<std::string> folders;
  std::set<std::string> seen;
  read_config(config_file, 0, &folders, &seen);
  return folders;
}

std::vector<std::string> system_library_folders(uint16_t machine) {
  if (machine == EM_X86_64) {
    return {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib", "/usr/lib"};
  }
  return {"/lib", "/usr/lib"};
}

library_search_options_t default_library_search_options(uint16_t machine) {
  library_search_options_t options;
  options.config_folders = loader_config_folders("/etc/ld.so.conf");
  options.system_folders = system_library_folders(machine);
  return options;
}

library_search_t find_loaded_libraries(const std::string& executable, const elf_facts_t& facts,
                                       const elf_dependencies_t& dependencies,
                                       const library_search_options_t& options) {
  library_search_t result;
  std::vector<object_t> objects;
  objects.push_back({canonical_path(executable), dependencies, -1});
  std::set<std::string> loaded_paths{objects[0].path};
  std::set<std::string> loaded_names;
  size_t looked_at = 0;

  // Opens a candidate: the module when it is an ELF file the program can
  // load, with its dependencies read; false otherwise.
  auto try_file = [&](const std::string& path, loaded_module_t* module,
                      elf_dependencies_t* needs) {
    if (looked_at >= options.max_modules) return false;
    std::string why;
    int fd = open_regular_file(path, &why);
    if (fd < 0) return false;
    ++looked_at;
    elf_facts_t found;
    bool fits = read_elf_facts(fd, true, &found, &why) && found.elf_class == facts.elf_class &&
                found.machine == facts.machine && read_elf_dependencies(fd, needs, &why);
    ::close(fd);
    if (!fits) return false;
    module->path = canonical_path(path);
    module->facts = found;
    return true;
  };
  auto add = [&](loaded_module_t module, elf_dependencies_t needs, int loaded_by) {
    loaded_names.insert(module.name);
    if (!loaded_paths.insert(module.path).second) return;
    objects.push_back({module.path, needs, loaded_by});
    result.modules.push_back(module);
  };

  if (!dependencies.interpreter.empty()) {
    loaded_module_t module;
    elf_dependencies_t needs;
    module.name = dependencies.interpreter;
    if (try_file(dependencies.interpreter, &module, &needs)) {
      // The interpreter is found again by its own name when libc needs it.
      add(module, elf_dependencies_t(), 0);
      size_t slash = dependencies.interpreter.rfind('/');
      loaded_names.insert(dependencies.interpreter.substr(slash + 1));
    } else {
      result.missing.push_back(dependencies.interpreter + " (the interpreter of " + executable +
                               ")");
    }
  }

  // Breadth first: each object's needs in order, objects in the order loaded.
  for (size_t index = 0; index < objects.size(); ++index) {
    const std::vector<std::string> needed = objects[index].dependencies.needed;
    for (const std::string& name : needed) {
      if (name.empty() || loaded_names.count(name)) continue;
      std::vector<std::string> candidates;
      if (name.find('/') != std::string::npos) {
        candidates.push_back(name);
      } else {
        std::vector<std::string> folders;
        const object_t& asking = objects[index];
        if (!asking.dependencies.has_runpath) {
          // An object with DT_RUNPATH lends no DT_RPATH folders either.
          for (int o = static_cast<int>(index); o >= 0; o = objects[o].loaded_by) {
            if (objects[o].dependencies.has_runpath) continue;
            for (const std::string& f : objects[o].dependencies.rpath) {
              folders.push_back(expand_origin(f, folder_of(objects[o].path)));
            }
          }
        }
        for (const std::string& f : asking.dependencies.runpath) {
          folders.push_back(expand_origin(f, folder_of(asking.path)));
        }
        folders.insert(folders.end(), options.config_folders.begin(),
                       options.config_folders.end());
        folders.insert(folders.end(), options.system_folders.begin(),
                       options.system_folders.end());
        for (const std::string& f : folders) {
          candidates.push_back((f.empty() || f.back() != '/' ? f + "/" : f) + name);
        }
      }
      bool found = false;
      for (const std::string& candidate : candidates) {
        loaded_module_t module;
        elf_dependencies_t needs;
        module.name = name;
        if (try_file(candidate, &module, &needs)) {
          add(module, needs, static_cast<int>(index));
          found = true;
          break;
        }
      }
      if (!found) {
        loaded_names.insert(name);
        result.missing.push_back(name + " (needed by " + objects[index].path + ")");
      }
    }
  }
  return result;
}

}}  // namespace velkor::library
