// The bridge's attack table (bridge-test.mjs refusals): attacks from another
// origin over plain sockets, each with the effect it must not have, and the
// smuggling a page of another origin tries in the browser.
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

// What a peer gets for the bytes it sends (in parts, `gap` ms apart): all
// the answer's text, and whether the bridge closed the connection.
export function raw(url, parts, gap = 0, wait = 3000) {
  const u = new URL(url);
  return new Promise((resolve) => {
    let text = '';
    const sock = connect(Number(u.port), u.hostname);
    const done = (closed) => { clearTimeout(timer); sock.destroy(); resolve({ text, closed }); };
    const timer = setTimeout(() => done(false), wait);
    sock.on('data', (d) => { text += d.toString('latin1'); });
    sock.on('close', () => done(true));
    sock.on('error', () => {});
    (async () => {
      for (const p of parts) {
        if (sock.destroyed) return;
        sock.write(p);
        if (gap) await new Promise((r) => setTimeout(r, gap));
      }
    })();
  });
}

// A masked WebSocket text frame (a client's).
function wsFrame(text) {
  const data = Buffer.from(text);
  const head = data.length < 126 ? Buffer.from([0x81, 0x80 | data.length])
    : data.length < 65536 ? Buffer.from([0x81, 0xfe, data.length >> 8, data.length & 255])
      : Buffer.concat([Buffer.from([0x81, 0xff, 0, 0, 0, 0]), Buffer.from([0, 0, 0, 0].map((_, i) => (data.length >>> (24 - 8 * i)) & 255))]);
  return Buffer.concat([head, Buffer.from([0, 0, 0, 0]), data]);  // mask 0: the bytes as they are
}

// Attacks from another origin over plain sockets, each with the effect it
// must not have: the TV's state unchanged, no page made, the bridge alive.
export async function attacks({ check, startBridge, post, sim, socketPort, upgrade }) {
  const root = mkdtempSync(join(tmpdir(), 'nptv-root.'));
  writeFileSync(join(root, 'index.html'), 'INDEX');
  const bridge = await startBridge(root);
  const self = new URL(bridge.url).host;
  const page = JSON.parse((await post(bridge.url, 'bridge/page', '{}')).text).page;
  await post(bridge.url, 'bridge/new', JSON.stringify({ page }));  // the simulated TV starts
  const country = async () => (await sim(bridge, { cmd: 'state' })).state.country;
  const alive = async () => (await fetch(bridge.url + 'index.html').then((r) => r.text(), () => '')) === 'INDEX';
  const inner = (path, body) => `POST ${path} HTTP/1.1\r\nHost: ${self}\r\nX-TV-Bridge: 1\r\nContent-Type: application/json\r\n` +
    `Content-Length: ${body.length}\r\n\r\n${body}`;
  const setCountry = inner('/bridge/sim', '{"cmd":"set","key":"country","value":7}');
  const makePage = inner('/bridge/page', '{}');
  // A foreign page's no-cors POST whose body is another request; `align`
  // pads its head so that the body starts at byte 4,096.
  const outer = (body, align) => {
    let head = `POST /bridge/page HTTP/1.1\r\nHost: ${self}\r\nOrigin: http://127.0.0.2:8000\r\nContent-Type: text/plain\r\n` +
      `Content-Length: ${body.length}\r\n`;
    if (align) head += 'X-Pad: ' + 'p'.repeat(4096 - head.length - 11) + '\r\n';
    return head + '\r\n';
  };
  const deep = '['.repeat(300000) + ']'.repeat(300000);
  const before = await country();
  // [what, parts, gap ms, status of the one answer, whether it must close]
  const rows = [
    ['smuggled TV request, body sent apart', [outer(setCountry), setCountry], 200, 403],
    ['smuggled TV request, body at byte 4,096', [outer(setCountry, true) + setCountry], 0, 403],
    ['smuggled bridge request, body sent apart', [outer(makePage), makePage], 200, 403],
    ['smuggled bridge request, body at byte 4,096', [outer(makePage, true) + makePage], 0, 403],
    ['JSON 300,000 deep', [inner('/bridge/new', deep)], 0, 400],
    ['smuggled after a request with no origin header refused', [inner('/bridge/sim', '{}').replace('X-TV-Bridge: 1\r\n', '') + setCountry], 0, 403],

    ['a 100 MB body', [`POST /bridge/new HTTP/1.1\r\nHost: ${self}\r\nX-TV-Bridge: 1\r\nContent-Length: 104857600\r\n\r\n` + 'x'.repeat(65536) + setCountry], 0, 413],
    ['300 headers', [`GET / HTTP/1.1\r\nHost: ${self}\r\n` + 'X-A: 1\r\n'.repeat(300) + '\r\n' + setCountry], 0, 431],
    ['a header of 20 kB', [`GET / HTTP/1.1\r\nHost: ${self}\r\nX-A: ${'a'.repeat(20000)}\r\n\r\n`], 0, 431],
    ['a chunked body', [`POST /bridge/new HTTP/1.1\r\nHost: ${self}\r\nX-TV-Bridge: 1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n` + setCountry], 0, 501],
    ['Content-Length twice', [`POST /bridge/new HTTP/1.1\r\nHost: ${self}\r\nX-TV-Bridge: 1\r\nContent-Length: 2\r\nContent-Length: 0\r\n\r\n{}`], 0, 400],
  ];
  for (const [what, parts, gap, status] of rows) {
    const r = await raw(bridge.url, parts, gap);
    const answers = r.text.match(/^HTTP\/1\.1 \d+/gm) || [];
    check(`attack: ${what}: one answer ${status}, connection closed, nothing else done`,
          answers.length === 1 && answers[0].endsWith(' ' + status) && r.closed && !r.text.includes('"page"') &&
          await country() === before && await alive(), `${JSON.stringify(answers)} closed=${r.closed} ${r.text.slice(-120)}`);
  }
  // JSON 300,000 deep on the page's WebSocket: a 400 answer, the bridge alive.
  const sp = await socketPort(bridge);
  const ws = await upgrade(sp, '/bridge/socket?page=' + page, { Host: `127.0.0.1:${sp}`, Origin: `http://${self}` });
  const wsAnswer = ws.socket ? await new Promise((resolve) => {
    let got = '';
    ws.socket.on('data', (d) => { got += d.toString('latin1'); if (got.includes('"status"')) resolve(got); });
    ws.socket.on('close', () => resolve(got || 'closed'));
    ws.socket.write(wsFrame('{"id":1,"action":"new","body":{"x":' + deep + '}}'));
    setTimeout(() => resolve(got || 'no answer'), 10000);
  }) : 'no socket ' + ws.status;
  if (ws.socket) ws.socket.destroy();
  check('attack: JSON 300,000 deep on the WebSocket: 400, the bridge alive',
        /"status":400/.test(wsAnswer) && await alive(), wsAnswer.slice(0, 120));
  // The socket port: a handshake that never ends is dropped; a refused one
  // gets its answer, and either connection closes.
  const opening = (origin) => `GET /bridge/socket?page=${page} HTTP/1.1\r\nHost: 127.0.0.1:${sp}\r\nOrigin: ${origin}\r\n` +
    'Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n';
  for (const [what, parts, gap, status] of [['a handshake sent a byte every 200 ms', Array.from(opening(`http://${self}`)), 200, ''],
    ['an opening from another origin', [opening('http://127.0.0.2:8000')], 0, 'HTTP/1.1 403']]) {
    const r = await raw(`http://127.0.0.1:${sp}/`, parts, gap, 15000);
    check(`attack on the socket port: ${what}: ${status || 'dropped'}, connection closed`,
          r.closed && r.text.startsWith(status) && !r.text.includes(' 101 '), `closed=${r.closed} ${r.text.slice(0, 80)}`);
  }
  // Many slow clients (a byte a second) hold connections: pages still load.
  const slow = Array.from({ length: 80 }, () => raw(bridge.url, Array.from('GET / HTTP/1.1\r\n'), 1000, 12000));
  await new Promise((r) => setTimeout(r, 1500));
  const loads = await raw(bridge.url, [`GET /index.html HTTP/1.1\r\nHost: ${self}\r\nConnection: close\r\n\r\n`], 0, 8000);
  check('attack: 80 slow clients; the page still loads (on a new connection)', loads.text.endsWith('INDEX'), `closed=${loads.closed} ${loads.text.slice(0, 80)}`);
  await Promise.all(slow);
  // Pages are bounded: a bridge keeps 64.
  const made = [];
  for (let i = 0; i < 70; i++) made.push((await post(bridge.url, 'bridge/page', '{}')).status);
  const full = made.indexOf(503);
  check('attack: pages made without end: 503 once 64 are open', full >= 63 && made.slice(full).every((s) => s === 503),
        made.join(','));
  const r = await raw(bridge.url, [`GET / HTTP/1.1\r\nHost: ${self}\r\n\r\n`]);
  check('the bridge\'s answers forbid framing (X-Frame-Options, frame-ancestors)',
        /X-Frame-Options: DENY/i.test(r.text) && /frame-ancestors 'none'/.test(r.text), r.text.slice(0, 300));
  check('tvbridge ended cleanly', (await bridge.stop()).code === 0);
  rmSync(root, { recursive: true, force: true });
}

// From a page of another origin in the browser: a no-cors POST whose body
// is itself a request to the simulated TV, as it is and with its head padded
// (through the URL) to end on byte 4,096, changes nothing. The browser's own
// head is measured first on a server of the same site (another port).
export async function foreignSmuggling(foreign, bridge) {
  const self = new URL(bridge.url).host;
  const set = '{"cmd":"set","key":"country","value":7}';
  const innerReq = `POST /bridge/sim HTTP/1.1\r\nHost: ${self}\r\nX-TV-Bridge: 1\r\nContent-Length: ${set.length}\r\n\r\n${set}`;
  let measured = 0;
  const probe = createServer((req, res) => {
    measured = `${req.method} ${req.url} HTTP/1.1\r\n`.length + 2 +
      req.rawHeaders.reduce((n, v, k) => n + v.length + (k % 2 ? 2 : 2), 0);
    res.end();
  });
  await new Promise((r) => probe.listen(0, '127.0.0.1', r));
  const send = (url, body) => foreign.evaluate(([u, b]) => fetch(u, { method: 'POST', mode: 'no-cors', body: b })
    .then(() => 'sent', (e) => 'refused: ' + e.message), [url, body]);
  const probeHost = `127.0.0.1:${probe.address().port}`;
  await send(`http://${probeHost}/bridge/page?p=`, innerReq);
  probe.close();
  const head = measured + self.length - probeHost.length;
  for (let pad = 0; pad < 3; pad++) {
    await send(bridge.url + 'bridge/page?p=', innerReq);
    await send(bridge.url + 'bridge/page?p=' + 'x'.repeat(Math.max(0, (8192 - head) % 4096 + pad - 1)), innerReq);
  }
}
