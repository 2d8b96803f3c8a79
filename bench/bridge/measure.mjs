#!/usr/bin/env node
// The round trip of one bridged call (page -> tvbridge -> module -> simulated
// TV -> page) in Chromium and Firefox, each on both of the page's channels (a
// synchronous request per call; a cross-origin isolated page, whose calls take
// its WebSocket where the browser allows), beside the same call in tvbrowser
// (Qt WebKit, the plug-in in the browser) and, when given, in tvwebkit
// (WebKitGTK, the module in its web process), all with bench/bridge/call.html:
// 10,000 calls of GetCountry one by one, median and 99th percentile.
//
//   node bench/bridge/measure.mjs TVBRIDGE TVBROWSER PLUGIN_DIR [TVWEBKIT] [--write]
//
// --write puts the result into BENCHMARKS.md as its own section (between
// the markers below), leaving the rest of the file as it is.
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { loadavg, tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { open } from '../../tests/e2e/bridge/browsers.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, '../..');
const [tvbridge, tvbrowser, pluginDir, tvwebkit] = process.argv.slice(2).filter((a) => !a.startsWith('--'));
if (!pluginDir) {
  console.error('usage: measure.mjs TVBRIDGE TVBROWSER PLUGIN_DIR [TVWEBKIT] [--write]');
  process.exit(2);
}
const work = mkdtempSync(join(tmpdir(), 'nptv-bench-bridge.'));
const env = { ...process.env, QUV_SIM_CONFIG: join(repo, 'tests/e2e/config/known.json'),
              QUV_LOG: join(work, 'quv.log'), QUV_SIM_SOCKET: join(work, 'sim.sock') };
const LONG = 1_200_000;

function benchLine(text) {
  const m = /bench: (\{.*\})/.exec(text);
  if (!m) throw new Error('no "bench:" line in:\n' + text.slice(-2000));
  return JSON.parse(m[1]);
}

// One run of call.html through a tvbridge of its own (same build, same
// simulated TV state) in `browserName`; `isolate` serves it cross-origin
// isolated.
async function bridged(browserName, isolate) {
  const bridge = spawn(tvbridge, ['--port', '0', '--root', here, ...(isolate ? ['--isolate'] : [])],
                       { env, stdio: ['ignore', 'pipe', 'inherit'] });
  const exited = new Promise((resolve) => bridge.on('exit', resolve));
  const url = await new Promise((resolve, reject) => {
    let out = '';
    bridge.stdout.on('data', (d) => {
      out += d;
      const m = /tvbridge: (http:\S+)/.exec(out);
      if (m) resolve(m[1]);
    });
    bridge.on('exit', () => reject(new Error('tvbridge ended early')));
  });
  const driver = await open(browserName, LONG);
  try {
    const page = await driver.browser.newPage();
    page.setDefaultTimeout(LONG);
    const line = new Promise((resolve) => page.on('console', (m) => { if (m.text().startsWith('bench: ')) resolve(m.text()); }));
    await page.goto(url + 'call.html', { timeout: LONG });
    const r = benchLine(await line);
    r.isolated = await page.evaluate(() => self.crossOriginIsolated);
    return r;
  } finally {
    await driver.close();
    bridge.kill('SIGTERM');
    await exited;  // the next one takes over the simulated TV's control socket
  }
}

function inHost(program) {
  const r = spawnSync(program, ['--headless', '--plugin-dir', pluginDir, '--timeout', '1200', join(here, 'call.html')],
                      { env, encoding: 'utf8', timeout: LONG });
  return benchLine((r.stdout || '') + (r.stderr || ''));
}

const load = loadavg()[0].toFixed(1);
const runs = [];
for (const browserName of ['chromium', 'firefox']) {
  for (const isolate of [false, true]) runs.push({ browserName, isolate, r: await bridged(browserName, isolate) });
}
const direct = inHost(tvbrowser);
const webkit = tvwebkit ? inHost(tvwebkit) : null;
rmSync(work, { recursive: true, force: true });
for (const r of [...runs.map((x) => x.r), direct, webkit].filter(Boolean)) {
  if (r.answer !== 44) throw new Error('GetCountry answered ' + r.answer + ', not the simulated TV\'s 44');
}
const version = (re, r) => (re.exec(r.agent) || [])[1] || '?';
const chromeVersion = version(/Chrome\/(\S+)/, runs[0].r);
const firefoxVersion = version(/Firefox\/(\S+)/, runs[2].r);
const where = ({ browserName, isolate, r }) => `${browserName === 'chromium' ? 'Chromium' : 'Firefox'}, `
  + (isolate ? 'isolated page' : 'page not isolated') + ` (calls over ${r.channel === 'socket' ? 'the WebSocket' : 'HTTP'})`
  + (r.isolated === isolate ? '' : ' [isolation not as asked]') + ' → tvbridge → module';
// A figure below the timer's step cannot be told from 0.
const fig = (v, r) => (v < r.timer_step_us ? `< ${r.timer_step_us}` : String(v));
const perSecond = (r) => Math.round(1e6 / r.mean_us).toLocaleString('en-US');
const row = (what, r) => `| ${what} | ${fig(r.median_us, r)} | ${fig(r.p99_us, r)} | ${r.mean_us} | ${perSecond(r)} | ${r.timer_step_us} |`;
const section = `<!-- bridge:begin (written by bench/bridge/measure.mjs) -->
## One call through tvbridge

The round trip of one call, page → plug-in module → framework → simulated TV
→ page, timed in the page with \`performance.now()\` around each of 10,000
\`GetCountry()\` calls made one after the other (after 200 unmeasured ones),
by \`bench/bridge/call.html\`: in Chromium ${chromeVersion} and Firefox
${firefoxVersion} through tvbridge (the bridge on 127.0.0.1 calls the module on
its host thread), in tvbrowser (Qt WebKit, the module in the browser)${webkit ? `, and in
tvwebkit (WebKitGTK: the module in the web process, hosted by the nptv
web-process extension, in WebKit's sandbox as by default)` : ''}.
Through the bridge a call is one synchronous HTTP request, or, on a
cross-origin isolated page, one message on the page's WebSocket, held by a
dedicated worker while the page waits on a SharedArrayBuffer. Firefox's
workers reach the network through the page's own thread, so a waiting page's
socket never answers there: its isolated page finds that out and keeps to
HTTP. Same build, same simulated TV state (\`tests/e2e/config/known.json\`),
run one after the other on the shared 2-core machine (1-minute load average
${load} at the start). Isolation also sets the page's timer step; the step
column is the smallest step seen. A single call shorter than the step cannot
be timed: the mean (the 10,000 calls' time over 10,000) is given for that;
calls per second are 1,000,000 / mean.

| where | median µs | 99th percentile µs | mean µs | calls per second | timer step µs |
|---|---|---|---|---|---|
${runs.map((x) => row(where(x), x.r)).join('\n')}
${row('tvbrowser → module', direct)}
${webkit ? row('tvwebkit → module', webkit) + '\n' : ''}
Run: \`node bench/bridge/measure.mjs TVBRIDGE TVBROWSER PLUGIN_DIR [TVWEBKIT] --write\`.
<!-- bridge:end -->
`;
console.log(section);
if (process.argv.includes('--write')) {
  const file = join(repo, 'BENCHMARKS.md');
  let text = readFileSync(file, 'utf8');
  const re = /<!-- bridge:begin[\s\S]*?<!-- bridge:end -->\n?/;
  text = re.test(text) ? text.replace(re, section) : text.replace(/\n*$/, '\n\n') + section;
  writeFileSync(file, text);
  console.log('wrote the section to BENCHMARKS.md');
}
