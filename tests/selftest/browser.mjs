// The self-test page in Chromium or Firefox through tvbridge, driven by real
// key presses, TV events through tvsim, the TV's state the same before and
// after. run.py sets SELFTEST_QUERY, SELFTEST_SHOT and SELFTEST_TVSIM.
//   node browser.mjs TVBRIDGE chromium|firefox CONFIG.json
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { open } from '../e2e/bridge/browsers.mjs';

const [tvbridge, browserName, config] = process.argv.slice(2);
const root = fileURLToPath(new URL('../../selftest', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'nptv-selftest-bridge.'));
const env = { ...process.env, QUV_SIM_SOCKET: join(work, 'sim.sock'), QUV_SIM_CONFIG: config };
const sim = (...args) => execFileSync(process.env.SELFTEST_TVSIM, ['--socket', env.QUV_SIM_SOCKET, ...args], { env }).toString();
const state = () => { const s = JSON.parse(sim('--json', 'state')).state; delete s.runtime; return JSON.stringify(s); };
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const CAUSE = { channel: ['current_channel', '1', '0'], pip: ['pip', '1', '0'], language: ['language', '8', '7'] };

const bridge = spawn(tvbridge, ['--port', '0', '--root', root], { env, stdio: ['ignore', 'pipe', 'inherit'] });
let code = 1;
let b = null;
try {
  const url = await new Promise((resolve, reject) => {
    let out = '';
    bridge.stdout.on('data', (d) => {
      out += d;
      const m = /tvbridge: (http:\/\/127\.0\.0\.1:\d+\/)/.exec(out);
      if (m) resolve(m[1]);
    });
    bridge.on('exit', () => reject(new Error('tvbridge ended: ' + out)));
  });
  b = await open(browserName, 60000);
  const page = await b.browser.newPage();
  await page.setViewportSize?.({ width: 1280, height: 720 });
  await page.setViewport?.({ width: 1280, height: 720 });
  page.on('console', (m) => console.log('page: ' + m.text()));
  await page.goto(url + 'index.html' + process.env.SELFTEST_QUERY);
  const attr = (name) => page.evaluate((n) => document.body.getAttribute(n), name);
  const until = async (name, want) => {
    for (let i = 0; i < 600; i++) {
      const v = await attr(name);
      if (want(v)) return v;
      await sleep(100);
    }
    throw new Error(`the page never reached ${name}`);
  };
  await until('data-screen', (v) => v === 'start');
  const before = state();
  await page.keyboard.press('Enter');
  for (const step of ['channel', 'pip', 'language']) {
    await until('data-step', (v) => v === step);
    const [key, on, off] = CAUSE[step];
    sim('set', key, on);
    sim('set', key, off);
    await until('data-arrived', (v) => v === step);
    await page.keyboard.press('Enter');
  }
  await until('data-screen', (v) => v === 'results');
  for (const k of ['ArrowDown', 'ArrowDown', 'Enter', 'Backspace', 'ArrowRight', 'ArrowRight', 'Enter', 'Backspace',
                   'ArrowRight', 'ArrowRight']) await page.keyboard.press(k);
  const delivered = await until('data-report', (v) => !!v);
  await page.screenshot({ path: process.env.SELFTEST_SHOT });
  const after = state();
  console.log(`browser: report ${delivered}; TV state ${before === after ? 'unchanged' : 'CHANGED: ' + before + ' -> ' + after}`);
  code = delivered === 'sent' && before === after ? 0 : 1;
} catch (e) {
  console.log('browser: ' + e.message);
} finally {
  if (b) await b.close();
  bridge.kill();
  rmSync(work, { recursive: true, force: true });
}
process.exit(code);
