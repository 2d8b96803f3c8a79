// The two desktop browsers the bridge's tests drive, behind one small
// interface, so that one test body runs in both: Debian's Chromium through
// playwright-core, Debian's Firefox ESR through puppeteer-core over WebDriver
// BiDi. Neither driver downloads anything: both run the installed browsers.
//
//   const b = await open('chromium' | 'firefox', timeout)
//   b.name, b.browser (newPage, close), b.initScript(page, text),
//   b.crash(page): the tab's process dies without a word (no pagehide)
//   b.window(): tabs sharing one window's connections (newPage)
//   b.socketAnswers: whether a worker's socket can answer a page that waits
//                    (false in Firefox: its workers' network goes through
//                    the page's own thread)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

async function chromiumBrowser(timeout) {
  const { chromium } = await import('playwright-core');
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, timeout,
                                          args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'] });
  return {
    name: 'chromium', browser, socketAnswers: true,
    initScript: (page, content) => page.addInitScript({ content }),
    window: () => browser.newContext(),  // browser.newPage() makes a context per tab
    async crash(page) {
      const cdp = await page.context().newCDPSession(page);
      cdp.send('Page.crash').catch(() => {});
    },
    close: () => browser.close(),
  };
}

// The resident memory of a process, in kB (0 when it is gone).
function rss(pid) {
  try {
    const m = /VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'));
    return m ? Number(m[1]) : 0;
  } catch {
    return 0;
  }
}

// The processes below `root` (the browser's own children and theirs).
function descendants(root) {
  const children = new Map();
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const ppid = Number(/PPid:\s+(\d+)/.exec(readFileSync(`/proc/${entry}/status`, 'utf8'))[1]);
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push(Number(entry));
    } catch {
      // gone meanwhile
    }
  }
  const out = [];
  const walk = (pid) => (children.get(pid) || []).forEach((c) => { out.push(c); walk(c); });
  walk(root);
  return out;
}

async function firefoxBrowser(timeout) {
  const { default: puppeteer } = await import('puppeteer-core');
  // A fresh profile for every run, removed afterwards.
  const profile = mkdtempSync(join(tmpdir(), 'nptv-firefox.'));
  const browser = await puppeteer.launch({
    browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true, userDataDir: profile, timeout,
    protocolTimeout: timeout,
    // Content processes as plain children of the browser (not of a fork
    // server), so that a test can find and end one (crash below).
    extraPrefsFirefox: { 'dom.ipc.forkserver.enable': false },
  });
  return {
    name: 'firefox', browser, socketAnswers: false,
    initScript: (page, content) => page.evaluateOnNewDocument(content),
    window: async () => browser.defaultBrowserContext(),
    // BiDi has no command that kills a tab's process, and the processes are
    // not named after their sites: the page takes a large block of memory,
    // and the content process that grew by it is ended with SIGKILL.
    async crash(page) {
      const root = browser.process().pid;
      const content = () => descendants(root).filter((pid) => {
        try { return readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('-contentproc'); } catch { return false; }
      });
      const before = new Map(content().map((pid) => [pid, rss(pid)]));
      await page.evaluate(() => { window.ballast = new Uint8Array(300 * 1024 * 1024).fill(1); });
      const grown = content().map((pid) => [pid, rss(pid) - (before.get(pid) || 0)]).sort((x, y) => y[1] - x[1]);
      if (!grown.length || grown[0][1] < 200 * 1024) throw new Error('no content process grew by the page\'s block');
      execFileSync('kill', ['-KILL', String(grown[0][0])]);
    },
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

export async function open(name, timeout) {
  if (name === 'chromium') return chromiumBrowser(timeout);
  if (name === 'firefox') return firefoxBrowser(timeout);
  throw new Error('unknown browser ' + name + ' (chromium or firefox)');
}
