// sample_stats --format json against the text report of the same file, read
// back with Python's json module: every number of the text is the JSON's;
// the keys and types are those the manual page lists; reuse times of
// hand-built samples with known times.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "support/elf_oracle.h"
#include "support/sample_files.h"
#include "support/test_support.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

// argv: text report, JSON report, manual page. Prints "ok" or what differs.
// The text is parsed line by line as the manual page describes it, and each
// value compared with the JSON's; the JSON's keys and types with the list
// between "keys:begin" and "keys:end" of the manual page.
const char kCompare[] = R"PY(
import json, re, sys

text = open(sys.argv[1], encoding='utf-8', errors='surrogateescape').read().split('\n')
doc = json.load(open(sys.argv[2], encoding='utf-8'))
man = open(sys.argv[3]).read()
problems = []

def check(what, got, want):
    if got != want:
        problems.append('%s: text %r, json %r' % (what, got, want))

def g(x):
    return '%g' % x

# ---- Keys and types, against the manual page.
documented = {}
inside = False
for line in man.split('\n'):
    if line.startswith('.\\" keys:begin'):
        inside = True
    elif line.startswith('.\\" keys:end'):
        inside = False
    elif inside:
        path, kind = line.split()
        documented[path] = kind

def type_of(v):
    if isinstance(v, bool): return 'boolean'
    if isinstance(v, int): return 'integer'
    if isinstance(v, float): return 'real'
    if isinstance(v, str): return 'string'
    if isinstance(v, list): return 'array'
    if isinstance(v, dict): return 'object'
    return 'null'

seen = set()
def walk(path, value, inside_sym):
    if path:
        seen.add(path)
        if not inside_sym:
            if path not in documented:
                problems.append('undocumented key ' + path)
            else:
                kind = type_of(value)
                if kind != documented[path] and not (kind == 'null' and documented[path] == 'real'):
                    problems.append('%s is %s, documented %s' % (path, kind, documented[path]))
    if isinstance(value, dict):
        for k, v in value.items():
            walk(path + '.' + k if path else k, v, inside_sym or k.endswith('_sym'))
    elif isinstance(value, list):
        for v in value:
            walk(path + '[]', v, inside_sym)
walk('', doc, False)
with open(sys.argv[4], 'a') as out:
    for path in sorted(seen):
        out.write(path + '\n')

# ---- The text, line by line.
check('format', doc['format'], 'sample_stats-json')
at = text.index('Container:')
lines = text[:at]
for event in doc['event_lines']:
    kind = event['kind']
    if kind == 'acquisition_begin':
        check('acquisition begin', lines.pop(0), 'Acquisition begin: ' + doc['acquisition']['begin_time_text'])
        check('architecture', lines.pop(0), 'Architecture: ' + event['architecture_name'])
        check('command line', lines.pop(0), 'Command line:' + ''.join(' ' + a for a in event['argv']))
        check('user', lines.pop(0), 'User: ' + event['user'])
    elif kind == 'sample_period':
        check('period', lines.pop(0), 'Nominal sample period: %d' % event['sample_period'])
    elif kind == 'mmap':
        check('mmap', lines.pop(0), 'Mmap: %x-%x %s' % (event['address'], event['address'] + event['size'], event['filename']))
    elif kind == 'acquisition_end':
        check('acquisition end', lines.pop(0), 'Acquisition end: ' + doc['acquisition']['end_time_text'])
check('event lines left', lines, [])
c = doc['container']
check('container', text[at + 1], '  Version: %d' % c['version'])
if c['version'] != 0:
    check('product', text[at + 2], '  Product: %s(%d)' % (c['product_name'], c['product']))
    check('data type', text[at + 3], '  Data type: %s(%d)' % (c['data_type_name'], c['data_type']))
    check('compression', text[at + 4], '  Compression: %s(%d)' % (c['compression_name'], c['compression']))
    at += 5
else:
    at += 2
check('stacks', text[at], 'Stacks: %d' % doc['stacks'])
at += 1

def pcs(label, entries):
    global at
    check('label', text[at], label)
    at += 1
    for e in entries:
        line = text[at]
        at += 1
        m = re.match(r'    0x([0-9a-f]+), (\d+) samples(  .*)?$', line)
        if not m:
            problems.append('top line ' + line)
            continue
        check('pc', '0x' + m.group(1), e['pc_hex'])
        check('pc value', int(m.group(1), 16), e['pc'])
        check('samples', int(m.group(2)), e['samples'])
        check('has symbol', m.group(3) is not None, 'pc_sym' in e)

for size in doc['line_sizes']:
    fields = [('Statitistics for line size %d:' % size['line_size'], None),
              ('  Sample begin events:  %d' % size['sample_begin_events'], None),
              ('  Sample end events:    %d' % size['sample_end_events'], None),
              ('  Sample begin times:   %d' % size['sample_begin_times'], None),
              ('  Sample end times:     %d' % size['sample_end_times'], None),
              ('  Acquisition accesses: %d' % size['acquisition_accesses'], None),
              ('  Real sample period:   ' + (g(size['real_sample_period']) if size['real_sample_period'] is not None else 'nan'), None),
              ('  Dangling samples:     %d' % size['dangling_samples'], None)]
    for want, _ in fields:
        if want.startswith('  Real sample period:   nan'):
            check('period', text[at] in ('  Real sample period:   nan', '  Real sample period:   -nan'), True)
        else:
            check('section', text[at], want)
        at += 1
    pcs('  Top sample begin pcs:', size['top_begin_pcs'])
    pcs('  Top sample end pcs:', size['top_end_pcs'])
    if 'bursts' in size:
        b = size['bursts']
        check('burst begins', text[at], '  Burst begin events: %d' % b['begins'])
        check('burst ends', text[at + 1], '  Burst end events: %d' % b['ends'])
        check('burst average', text[at + 2], '  Average burst length: %s s' % g(b['average_length_seconds']))
        at += 3
    check('types', text[at], '  Access type counts:')
    at += 1
    for t in size['access_type_counts']:
        check('type', text[at], '    %s: %d' % (t['access_type_name'], t['count']))
        at += 1
    begins = size['sample_begin_events']
    for e in size['top_begin_pcs']:
        check('begin share', abs(e['percent'] - 100.0 * e['samples'] / begins) < 1e-9, True)

d = doc['time_distribution']
check('distribution', text[at], 'Sample distribution over time (%d accesses per bucket):' % d['accesses_per_bucket'])
at += 1
for n in d['buckets']:
    check('bucket', text[at], str(n))
    at += 1
check('empty line', text[at], '')
check('communication', text[at + 1], 'Communication patterns:')
at += 2
total = 0
for e in doc['communication']:
    check('pair', text[at], '%d -> %d  %s-%s   : %d  (%s%%)' % (
        e['from_thread'], e['to_thread'], e['from_type_name'], e['to_type_name'], e['count'], g(e['percent'])))
    total += e['count']
    at += 1
check('end of report', text[at:], [''])
t = doc['communication_totals']
check('pairs', t['pairs'], total)
check('within and across', t['same_thread'] + t['cross_thread'], total)
check('per pair of threads', sum(p['count'] for p in t['thread_pairs']), total)
by_count = [e['count'] for e in doc['communication_by_count']]
check('by count', by_count, sorted(by_count, reverse=True))
if doc['top']:
    check('busiest', len(by_count), min(doc['top'], len(doc['communication'])))
print('ok' if not problems else '\n'.join(problems))
)PY";

const uint64_t s = 1000000000;

run_result_t stats(const std::vector<std::string>& args, const std::string& file) {
  std::vector<std::string> argv{bin_path("sample_stats")};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"-i", file});
  run_options_t options;
  options.env["TZ"] = "UTC";
  return run_program(argv, options);
}

std::string man_page() { return std::string(VK_TEST_DATA_DIR) + "/../../man/sample_stats.1"; }

// Runs the text and the JSON report and compares them; the JSON's key paths
// are added to `seen`.
void expect_json_matches_text(const std::string& file, const std::vector<std::string>& args,
                              const temp_dir_t& tmp) {
  run_result_t text = stats(args, file);
  std::vector<std::string> json_args = args;
  json_args.insert(json_args.end(), {"--format", "json"});
  run_result_t json = stats(json_args, file);
  ASSERT_EQ(text.exit_status, 0) << text.err;
  ASSERT_EQ(json.exit_status, 0) << json.err;
  EXPECT_EQ(json.err, text.err);
  write_file(tmp.file("text"), text.out);
  write_file(tmp.file("json"), json.out);
  write_file(tmp.file("compare.py"), kCompare);
  run_result_t compared =
      run_program({"/usr/bin/python3", tmp.file("compare.py"), tmp.file("text"), tmp.file("json"),
                   man_page(), tmp.file("seen")});
  EXPECT_EQ(compared.out, "ok\n") << compared.err;
}

// Every kind of section: acquisition, mappings, stacks, two line sizes with
// complete samples and separate pairs, bursts, communication.
std::string rich_file(const std::string& module) {
  event_list_t events;
  qnt_event_acquisition_begin_t* begin = add_event<qnt_event_acquisition_begin_t>(&events);
  begin->time = 1339666013 * s;
  begin->architecture = 1;
  begin->argv = {"/opt/app", "-n", "4"};
  begin->user = "bench";
  begin->line_sizes = {6, 7};
  add_event<qnt_event_sample_period_t>(&events)->sample_period = 50000;
  const uint64_t base = 0x555555554000;
  for (const elf_mapping_t& m : loader_mappings(elf_load_segments(module), base)) {
    qnt_event_mmap_t* e = add_event<qnt_event_mmap_t>(&events);
    e->address = m.start;
    e->size = m.size;
    e->offset = m.offset;
    e->filename = module;
  }
  const uint64_t work = base + elf_symbol(module, "fx::work(int)").address;
  add_event<qnt_event_stack_t>(&events)->return_addresses = {work + 8};
  add_event<qnt_event_burst_begin_t>(&events)->real_time = 10 * s;
  for (uint64_t i = 0; i < 40; ++i) {
    qnt_event_sample_t* sample = add_event<qnt_event_sample_t>(&events);
    sample->line_size = i % 3 ? 6 : 7;
    sample->begin.pc = work + 4 * (i % 5);
    sample->begin.time = 1000 * i;
    sample->begin.thread = 1 + i % 2;
    sample->begin.access_type = i % 3;
    sample->flags = i % 11 == 0 ? 1 : 0;
    for (uint64_t k = 0; k < i % 3; ++k) {
      qnt_sample_access_t end = sample->begin;
      end.time = 1000 * i + 7 * (k + 1) + i * i;
      end.thread = 1 + (i + k) % 3;
      end.pc = work + 64 + 4 * k;
      sample->ends.push_back(end);
    }
    if (i % 4 == 0) {
      qnt_event_sample_begin_t* b = add_event<qnt_event_sample_begin_t>(&events);
      b->sample_id = static_cast<uint32_t>(i);
      b->time = 1000 * i + 1;
      b->pc = work + 100;
      b->line_size = 64;
      if (i % 8 == 0) {
        qnt_event_sample_end_t* e = add_event<qnt_event_sample_end_t>(&events);
        e->sample_id = static_cast<uint32_t>(i);
        e->time = 1000 * i + 500;
        e->pc = work + 120;
      }
    }
  }
  add_event<qnt_event_burst_end_t>(&events)->real_time = 12 * s + s / 2;
  add_event<qnt_event_acquisition_end_t>(&events)->time = 1339666016 * s;
  return sample_file(events, compression_deflate);
}

TEST(SampleStatsJson, EveryNumberOfTheTextAndTheKeysOfTheManualPage) {
  temp_dir_t tmp;
  const std::string rich = rich_file(symbol_fixture("fixture_pie"));
  write_file(tmp.file("rich.smp"), rich);
  write_file(tmp.file("cut.smp"), rich.substr(0, rich.size() - 10));  // with warnings
  ASSERT_EQ(run_program({bin_path("sample_synth"), "--samples", "3000", "--threads", "3",
                         "--line-size", "64", "--line-size", "128", "-o", tmp.file("synth.smp")})
                .exit_status,
            0);
  const struct {
    const char* name;
    std::string file;
    std::vector<std::string> args;
  } cases[] = {
      {"rich", tmp.file("rich.smp"), {}},
      {"rich, symbols", tmp.file("rich.smp"), {"--symbols"}},
      {"rich, top 2", tmp.file("rich.smp"), {"--top", "2"}},
      {"rich, cut short", tmp.file("cut.smp"), {}},
      {"synthesized", tmp.file("synth.smp"), {}},
      {"synthesized, all pcs", tmp.file("synth.smp"), {"--top", "0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_json_matches_text(c.file, c.args, tmp);
  }
  // Every key the manual page lists appeared in some report.
  std::string seen = "\n" + read_file(tmp.file("seen"));
  std::string man = read_file(man_page());
  size_t from = man.find("keys:begin\n") + 11;
  size_t to = man.find(".\\\" keys:end");
  std::string keys = man.substr(from, to - from);
  for (size_t at = 0; at < keys.size();) {
    size_t end = keys.find('\n', at);
    std::string path = keys.substr(at, keys.find(' ', at) - at);
    EXPECT_NE(seen.find("\n" + path + "\n"), std::string::npos) << path << " never appeared";
    at = end + 1;
  }
}

// The reuse times of samples whose times are known: complete samples (the
// first end counts), begins and ends that meet in either order, samples
// without an end of each kind, times near 2^64 and an end before its begin.
TEST(SampleStatsJson, ReuseTimesOfKnownSamples) {
  const uint64_t top = UINT64_MAX;
  event_list_t events;
  auto complete = [&events](uint64_t pc, uint64_t time, std::vector<uint64_t> ends, uint8_t flags) {
    qnt_event_sample_t* sample = add_event<qnt_event_sample_t>(&events);
    sample->line_size = 6;
    sample->begin.pc = pc;
    sample->begin.time = time;
    sample->flags = flags;
    for (uint64_t t : ends) {
      qnt_sample_access_t end = sample->begin;
      end.time = t;
      sample->ends.push_back(end);
    }
  };
  auto begin = [&events](uint32_t id, uint64_t time) {
    qnt_event_sample_begin_t* b = add_event<qnt_event_sample_begin_t>(&events);
    b->sample_id = id;
    b->time = time;
    b->pc = 0xc000;
    b->line_size = 64;
  };
  auto end = [&events](uint32_t id, uint64_t time) {
    qnt_event_sample_end_t* e = add_event<qnt_event_sample_end_t>(&events);
    e->sample_id = id;
    e->time = time;
  };
  complete(0xa000, 100, {105}, 0);             // 5
  complete(0xa000, 200, {240, 300}, 0);        // 40: the first end counts
  complete(0xb000, top - 10, {top - 1}, 0);    // 9, near 2^64
  complete(0xb000, 500, {400}, 0);             // an end before its begin
  complete(0xb000, 600, {}, 1);                // killed
  complete(0xb000, 700, {}, 0);                // without ends
  begin(1, 1000);                              // 100
  end(1, 1100);
  end(2, 2050);                                // 50, the end first
  begin(2, 2000);
  begin(3, 3000);                              // dangling
  temp_dir_t tmp;
  write_file(tmp.file("f"), sample_file(events, compression_none));

  // Reuse times 5, 9, 40, 50, 100: the median is the third, the 90th
  // percentile the fifth, both exact at the lower end of their buckets.
  run_result_t json = stats({"--format", "json"}, tmp.file("f"));
  ASSERT_EQ(json.exit_status, 0) << json.err;
  run_options_t options;
  options.stdin_data = json.out;
  run_result_t facts = run_program(
      {"/usr/bin/python3", "-c",
       "import json, sys\n"
       "size = json.load(sys.stdin)['line_sizes'][0]\n"
       "r = size['reuse_times']\n"
       "print(r['samples'], r['median'], r['p90'], r['ends_before_begins'])\n"
       "print(' '.join('%d-%d:%d' % (h['from'], h['to'], h['samples']) for h in r['histogram']))\n"
       "print(r['without_end'])\n"
       "for pc in size['top_begin_pcs']:\n"
       "    t = pc['reuse_times']\n"
       "    print(pc['pc_hex'], pc['samples'], t['samples'], t['median'], t['p90'])\n"},
      options);
  EXPECT_EQ(facts.out,
            "5 40 100 1\n"
            "4-7:1 8-15:1 32-63:2 64-127:1\n"
            "{'dangling': 1, 'killed': 1, 'without_ends': 1}\n"
            "0xb000 4 1 9 9\n"
            "0xc000 3 2 50 100\n"
            "0xa000 2 2 5 40\n")
      << facts.err;

  run_result_t text = stats({"--reuse"}, tmp.file("f"));
  ASSERT_EQ(text.exit_status, 0);
  const std::string section = text.out.substr(text.out.find("\nReuse times"));
  EXPECT_EQ(section,
            "\nReuse times (accesses from a sample's begin to its first end):\n"
            "  Line size 64:\n"
            "    Samples with an end: 5, median 40, 90th percentile 100\n"
            "    Samples without an end: 1 dangling, 1 killed, 1 without ends\n"
            "    Ends before their begins: 1\n"
            "    4-7: 1\n"
            "    8-15: 1\n"
            "    32-63: 2\n"
            "    64-127: 1\n"
            "    Top sample begin pcs:\n"
            "      0xb000, 1 samples with an end, median 9, 90th percentile 9\n"
            "      0xc000, 2 samples with an end, median 50, 90th percentile 100\n"
            "      0xa000, 2 samples with an end, median 5, 90th percentile 40\n");
  // Without --reuse the text is as it always was.
  run_result_t plain = stats({}, tmp.file("f"));
  EXPECT_EQ(plain.out, text.out.substr(0, text.out.find("\nReuse times")));
}

}  // namespace
