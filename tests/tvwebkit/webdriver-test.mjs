#!/usr/bin/env node
// A WebDriver session (WebKitWebDriver, selenium-webdriver) starts tvwebkit,
// loads a page with a TV embed and reads what the module answers, against a
// simulated TV in a known state.
//   node webdriver-test.mjs TVWEBKIT MODULE_DIR
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import webdriver from 'selenium-webdriver';
import { Executor, HttpClient } from 'selenium-webdriver/http/index.js';

const [tvwebkit, moduleDir] = process.argv.slice(2).map((p) => resolve(p));
const here = dirname(fileURLToPath(import.meta.url));
const LONG = 240_000;  // a shared, loaded machine: generous waits, never timing checks

let passed = 0;
let failed = 0;
function check(name, cond, detail) {
  if (cond) passed++; else failed++;
  console.log((cond ? 'ok - ' : 'not ok - ') + name + (cond || !detail ? '' : ': ' + detail));
  return cond;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = createServer();
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
    s.on('error', reject);
  });
}

// WebKitWebDriver on a free port; resolves once it accepts requests.
async function startDriver(env) {
  const port = await freePort();
  const child = spawn('WebKitWebDriver', [`--port=${port}`], { env, stdio: ['ignore', 'inherit', 'inherit'] });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = `http://127.0.0.1:${port}`;
  const end = Date.now() + LONG;
  while (Date.now() < end) {
    try {
      const r = await fetch(url + '/status');
      if (r.ok) return { url, child, exited };
    } catch (e) { /* not listening yet */ }
    await new Promise((r) => setTimeout(r, 100));
  }
  child.kill();
  throw new Error('WebKitWebDriver did not start');
}

async function main() {
  const work = mkdtempSync(join(tmpdir(), 'nptv-webdriver.'));
  const env = { ...process.env, QUV_SIM_SOCKET: join(work, 'sim.sock'), QUV_LOG: join(work, 'quv.log'),
                QUV_SIM_CONFIG: join(here, '../e2e/config/known.json') };
  const driverProcess = await startDriver(env);
  let driver;
  try {
    const caps = new webdriver.Capabilities();
    caps.set('webkitgtk:browserOptions', {
      binary: tvwebkit,
      // WebKitWebDriver passes --automation alone unless args are given.
      args: ['--automation', '--headless', '--plugin-dir', moduleDir],
    });
    driver = await webdriver.WebDriver.createSession(new Executor(new HttpClient(driverProcess.url)), caps);
    check('a session starts tvwebkit', Boolean(await driver.getSession()));
    const page = pathToFileURL(join(here, 'tv-page.html')).href;
    await driver.get(page);
    check('the page is loaded', (await driver.getTitle()) === 'TV object for WebDriver');
    const answer = await driver.executeScript('return document.getElementById("tv").GetPluginInfo(0);');
    check('a method answers what the module answers (GetPluginInfo(0))', answer === 'TV-0017', JSON.stringify(answer));
    const country = await driver.executeScript('return document.getElementById("tv").GetCountry();');
    check('GetCountry() answers the simulated TV\'s country', country === 44, JSON.stringify(country));
    const element = await driver.findElement(webdriver.By.css('embed[type="application/tv"]'));
    check('the embed is found as an element', (await element.getAttribute('id')) === 'tv');
  } catch (e) {
    check('the session ran', false, e && e.stack ? e.stack : String(e));
  } finally {
    if (driver) await driver.quit().catch((e) => check('the session ends', false, String(e)));
    driverProcess.child.kill('SIGTERM');
    await driverProcess.exited;
    rmSync(work, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 && passed > 0 ? 0 : 1);
}

main();
