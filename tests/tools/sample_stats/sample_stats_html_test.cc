// sample_stats --format html opened in headless Chromium: the page's scripts
// ran without an error and made no request, and every chart and table holds
// the numbers of the JSON report (and of sample_lines' JSON for the cache
// lines), read from the page after its scripts ran. A screenshot goes to the
// build folder for people to look at.
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace velkor::testkit;

namespace {

const char kChromium[] = "/usr/bin/chromium";

// argv: the page after its scripts ran, the JSON report, sample_lines' JSON.
const char kCompare[] = R"PY(
import html, json, re, sys

dom = open(sys.argv[1], encoding='utf-8').read()
report = json.load(open(sys.argv[2], encoding='utf-8'))
lines = json.load(open(sys.argv[3], encoding='utf-8'))
m = re.search(r'<pre id="drawn"[^>]*>(.*?)</pre>', dom, re.S)
if not m:
    print('no record of what was drawn'); sys.exit()
drawn = json.loads(html.unescape(m.group(1)))
problems = []
def check(what, got, want):
    if got != want:
        problems.append('%s: page %r, report %r' % (what, got, want))

check('errors', drawn['errors'], [])
check('done', drawn.get('done'), True)
charts, tables = drawn['charts'], drawn['tables']
check('time distribution', charts['time_distribution'], report['time_distribution']['buckets'])
for size in report['line_sizes']:
    ls = size['line_size']
    check('reuse %d' % ls, charts['reuse_%d' % ls], [h['samples'] for h in size['reuse_times']['histogram']])
    for name in ('top_begin', 'top_end'):
        rows = tables['%s_%d' % (name, ls)]
        want = [[p['pc_hex'], p['samples']] for p in size[name + '_pcs']]
        check('%s %d' % (name, ls), [[r[1], r[2]] for r in rows], want)
    check('counts %d' % ls, [r for r in tables['counts'] if r[0] == ls][0][1:6],
          [size['sample_begin_events'], size['sample_end_events'], size['sample_begin_times'],
           size['sample_end_times'], size['dangling_samples']])
cells = {}
for frm, to, count in charts['communication_matrix']:
    cells[(frm, to)] = count
want = {}
for p in report['communication_totals']['thread_pairs']:
    want[(str(p['from_thread']), str(p['to_thread']))] = p['count']
check('matrix', cells, want)
check('busiest pairs', [[r[0], r[1], r[3]] for r in tables['busiest_pairs']],
      [[e['from_thread'], e['to_thread'], e['count']] for e in report['communication_by_count']])
check('cache lines', [[r[1], r[3], r[4]] for r in tables['cache_lines']],
      [[l['address_hex'], l['verdict'], l['accesses']] for l in lines['lines']])
strips = {s['line']: sorted(tuple(r[:3]) for r in s['ranges']) for s in charts['byte_strips']}
for l in lines['lines']:
    want = sorted((o['thread'], o['offset'], o['length']) for o in l['offsets'])
    check('bytes of ' + l['address_hex'], [list(r) for r in strips[l['address_hex']]], [list(r) for r in want])
# With --symbols: the names the page shows are those of the JSON forms.
def base(path):
    return path.rsplit('/', 1)[-1]
for size in report['line_sizes']:
    for name in ('top_begin', 'top_end'):
        for row, p in zip(tables['%s_%d' % (name, size['line_size'])], size[name + '_pcs']):
            sym = p.get('pc_sym')
            if sym and 'function' in sym:
                if not row[5].startswith('%s+0x%x ' % (sym['function'], sym['function_offset'])):
                    problems.append('function of %s: page %r, report %r' % (p['pc_hex'], row[5], sym))
for row, l in zip(tables['cache_lines'], lines['lines']):
    sym = l.get('address_sym')
    if sym and 'object' in sym:
        check('object of ' + l['address_hex'], row[9],
              '%s+0x%x [%s]' % (sym['object'], sym['object_offset'], base(sym['module'])))
named = sum(1 for l in lines['lines'] if 'object' in l.get('address_sym', {}))
print('ok %d' % named if not problems else '\n'.join(problems))
)PY";

run_result_t chromium(const std::vector<std::string>& args, const temp_dir_t& profile) {
  std::vector<std::string> argv = {kChromium, "--headless", "--no-sandbox", "--disable-gpu",
                                   "--disable-quic", "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update", "--disable-sync",
                                   "--user-data-dir=" + profile.path()};
  argv.insert(argv.end(), args.begin(), args.end());
  run_options_t options;
  options.timeout_seconds = 120;
  return run_program(argv, options);
}

// One recording of the model's program, one of the demo program read with
// its symbols (names in the pc tables and the objects of the cache lines).
struct html_case_t {
  const char* name;
  std::vector<std::string> synth;
  bool symbols;
};

void PrintTo(const html_case_t& c, std::ostream* out) { *out << c.name; }

class SampleStatsHtml : public ::testing::TestWithParam<html_case_t> {};

TEST_P(SampleStatsHtml, ChartsHoldTheReportsNumbersInABrowser) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "no " << kChromium << " (scripts/setup.sh --browser)";
  const html_case_t& c = GetParam();
  temp_dir_t tmp, profile;
  const std::string file = tmp.file("run.smp");
  std::vector<std::string> synth = {bin_path("sample_synth"), "-o", file};
  synth.insert(synth.end(), c.synth.begin(), c.synth.end());
  ASSERT_EQ(run_program(synth).exit_status, 0);
  const std::vector<std::string> symbols =
      c.symbols ? std::vector<std::string>{"--symbols"} : std::vector<std::string>{};
  auto run = [&](const std::string& program, const std::string& format) {
    std::vector<std::string> argv = {bin_path(program), "--format", format, "-i", file};
    argv.insert(argv.end(), symbols.begin(), symbols.end());
    return run_program(argv);
  };
  run_result_t page = run("sample_stats", "html");
  run_result_t json = run("sample_stats", "json");
  run_result_t lines = run("sample_lines", "json");
  ASSERT_EQ(page.exit_status, 0) << page.err;
  ASSERT_EQ(json.exit_status, 0) << json.err;
  ASSERT_EQ(lines.exit_status, 0) << lines.err;
  EXPECT_LT(page.out.size(), 400u * 1024);
  write_file(tmp.file("report.html"), page.out);
  write_file(tmp.file("report.json"), json.out);
  write_file(tmp.file("lines.json"), lines.out);

  run_result_t dom = chromium({"--dump-dom", "file://" + tmp.file("report.html")}, profile);
  ASSERT_EQ(dom.exit_status, 0) << dom.err;
  write_file(tmp.file("dom.html"), dom.out);
  write_file(tmp.file("compare.py"), kCompare);
  run_result_t compared = run_program({"/usr/bin/python3", tmp.file("compare.py"),
                                       tmp.file("dom.html"), tmp.file("report.json"),
                                       tmp.file("lines.json")});
  ASSERT_EQ(compared.out.compare(0, 3, "ok "), 0) << compared.out << compared.err;
  // With symbols, the planted lines lie in the demo program's objects.
  if (c.symbols) {
    EXPECT_NE(compared.out, "ok 0\n");
  }

  // For people to look at: the whole page.
  const std::string shot =
      std::string(VK_BIN_DIR) + "/../tests/html_report_" + c.name + ".png";
  run_result_t screenshot = chromium({"--hide-scrollbars", "--window-size=1280,6000",
                                      "--screenshot=" + shot, "file://" + tmp.file("report.html")},
                                     profile);
  EXPECT_EQ(screenshot.exit_status, 0) << screenshot.err;
  EXPECT_EQ(access(shot.c_str(), R_OK), 0) << shot;
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, SampleStatsHtml,
    ::testing::Values(
        html_case_t{"model",
                    {"--samples", "20000", "--threads", "6", "--line-size", "64", "--line-size",
                     "128", "--false-sharing"},
                    false},
        html_case_t{"demo",
                    {"--samples", "20000", "--binary", bin_path("demo_program"),
                     "--false-sharing"},
                    true}),
    [](const ::testing::TestParamInfo<html_case_t>& info) { return std::string(info.param.name); });

}  // namespace
