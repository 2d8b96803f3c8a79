#!/usr/bin/env node
// Writes types/tv.d.ts, docs/reference.md, tools/tvbridge/tv-methods.js and
// selftest/tv-api.js from types/tv-api.json.
//   node types/generate.mjs           write the three files
//   node types/generate.mjs --check   exit 1 if one of them differs from what
//                                     the data file gives (used by CTest)
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const api = JSON.parse(readFileSync(join(root, 'types/tv-api.json'), 'utf8'));
const methods = api.groups.flatMap((g) => g.methods);

const KIND_TYPE = { number: 'number', flag: 'number', epoch: 'number | string', password: 'string', item: 'number' };
const KIND_NOTE = {
  number: 'number (truncated toward zero)',
  flag: '1 or 0 (not a boolean: `true` counts as 0)',
  epoch: 'number or decimal text',
  password: 'text',
  item: 'number, optional',
};

function check(cond, msg) {
  if (!cond) {
    console.error(`types/tv-api.json: ${msg}`);
    process.exit(2);
  }
}
check(methods.length === 49, `expected 49 methods, found ${methods.length}`);
check(new Set(methods.map((m) => m.name)).size === 49, 'a method name appears twice');
for (const m of methods) {
  check(m.returns === 'number' || m.returns === 'string', `${m.name}: returns must be number or string`);
  for (const a of m.args) check(a.kind in KIND_TYPE, `${m.name}: unknown argument kind ${a.kind}`);
  const fb = JSON.parse(m.fallback);
  check(typeof fb === m.returns, `${m.name}: fallback ${m.fallback} is not a ${m.returns}`);
}
check(Array.isArray(api.events), 'events must be a list');

const TS_HEADER = `// The TV object that <embed type="application/tv"> gives a page.
// Generated from types/tv-api.json by types/generate.mjs: edit those, not this.
//
// Every method call waits for the TV's answer on the page's own thread.
// When the page's TV object is not connected to a TV, each method returns a
// fixed fallback value (told per method below); a call with the wrong number
// of arguments throws.
`;

function tsDoc(lines, indent) {
  const out = [`${indent}/**`];
  for (const l of lines) out.push(l === '' ? `${indent} *` : `${indent} * ${l}`);
  out.push(`${indent} */`);
  return out.join('\n');
}

function tsMethod(m) {
  const lines = [m.doc, ''];
  for (const a of m.args) lines.push(`@param ${a.name} ${a.doc} (${KIND_NOTE[a.kind]})`);
  lines.push(`@returns ${m.returns}. No TV connected: ${m.fallback}. TV answered with an error: ${m.onError}.`);
  const params = m.args.map((a) => `${a.name}${a.kind === 'item' ? '?' : ''}: ${KIND_TYPE[a.kind]}`).join(', ');
  return `${tsDoc(lines, '  ')}\n  ${m.name}(${params}): ${m.returns};`;
}

function makeDts() {
  const parts = [TS_HEADER];
  parts.push(`/** A handler of TV events: called with the event's two texts. */
type TvEventHandler = (param1: string, param2: string) => void;

/** The scriptable TV object (the <embed> element itself). */
interface TV {
  /** Calling the object itself answers 1, whatever the arguments. */
  (...args: unknown[]): number;
`);
  for (const g of api.groups) {
    parts.push(`  // ---- ${g.title}\n`);
    for (const m of g.methods) parts.push(tsMethod(m) + '\n');
  }
  parts.push(`${tsDoc([
    'The handler of TV events: a function, or the name of a global function.',
    'Reading gives the stored name if one was ever set, else the stored function,',
    'else undefined. Assigning null, undefined, a number or a boolean changes',
    'nothing. When both a function and a name are stored, events go to the function.',
    'A handler given by name is called by evaluating name("param1","param2") with',
    'the texts inserted unescaped: a text holding a double quote or a backslash',
    'breaks or changes that call. Prefer a function.',
  ], '  ')}
  OnEvent: TvEventHandler | string | undefined | null;
}

/** The <embed type="application/tv"> element as a page sees it. */
type TvElement = HTMLEmbedElement & TV;
`);
  return parts.join('\n');
}

function mdEscape(s) {
  return String(s).replace(/\|/g, '\\|');
}

function signature(m) {
  return `${m.name}(${m.args.map((a) => (a.kind === 'item' ? `[${a.name}]` : a.name)).join(', ')})`;
}

function makeReference() {
  const out = [];
  out.push(`# The TV object: reference for page developers

<!-- Generated from types/tv-api.json by types/generate.mjs: edit those, not this. -->

A page gets the TV object by embedding it:

\`\`\`html
<embed id="tv-object" type="application/tv" width="0" height="0">
<script>
  // (A global named like the element's id clashes with it in this browser.)
  const tv = document.getElementById('tv-object');
  const title = tv.GetPresentProgram_Title();        // a string
  const start = Number(tv.GetPresentProgram_StartTime()); // a decimal text
  tv.OnEvent = (param1, param2) => console.log('event', param1, param2);
  tv.SetEvent(1);
</script>
\`\`\`

Typings for editors and \`tsc --checkJs\`: \`types/tv.d.ts\` (the element is a \`TvElement\`).

The typings are also an npm package, \`nptv-types\`, of the same version as the
module: \`npm pack\` in \`types/\` makes \`nptv-types-VERSION.tgz\`. In a page
project, \`npm install --save-dev path/to/nptv-types-VERSION.tgz\` and name it in
\`tsconfig.json\` (\`"compilerOptions": { "types": ["nptv-types"] }\`) or in a file
(\`/// <reference types="nptv-types" />\`); the declarations are global
(\`TV\`, \`TvElement\`): \`const tv = document.getElementById('tv-object') as TvElement;\`

## Rules that hold for every method

- **Every call blocks.** Each method is one command to the TV; the call waits
  for the TV's answer on the page's own thread, so the page does not paint or
  handle keys meanwhile. Do not call methods in a tight loop on every frame;
  read what you need once and refresh on events or on a slow timer.
- **Argument count is exact.** A call with too few or too many arguments throws
  (a script error); only \`GetPluginInfo\` accepts any number.
- **Argument types are forgiving, silently.** A numeric argument takes a number
  (fractions are cut toward zero, values beyond 32 bits are clamped); anything
  else (a string, \`null\`, \`undefined\`, an object, **a boolean**) counts as 0
  and the plug-in writes a log line. So \`SetPIP(true)\` switches PIP *off*:
  pass \`1\` or \`0\`. \`ConvertEpochToLocalTime\` also takes a decimal text.
- **Results are numbers or strings, never booleans.** Times come as decimal
  *texts*: convert with \`Number()\`.
- **No TV connected** (the plug-in instance has no TV behind it): every method
  still returns normally with the fixed *fallback* value below. An **error
  answer** from the TV gives the *on error* value. Neither throws.

## Methods

| Method | Arguments | Returns | Fallback (no TV) | On error | What it does |
|---|---|---|---|---|---|`);
  for (const g of api.groups) {
    out.push(`| **${g.title}** | | | | | |`);
    for (const m of g.methods) {
      const args = m.args.length ? m.args.map((a) => `${a.name}: ${KIND_NOTE[a.kind]}`).join('; ') : 'none';
      out.push(`| \`${signature(m)}\` | ${mdEscape(args)} | ${m.returns} | \`${mdEscape(m.fallback)}\` | ${mdEscape(m.onError.startsWith('(') ? m.onError : '`' + m.onError + '`')} | ${mdEscape(m.doc)} |`);
    }
  }
  out.push(`
Calling the TV object itself as a function (\`tv()\`) returns 1.

## OnEvent

\`tv.OnEvent\` holds the page's handler of TV events, either a **function** or
the **name** of a global function (a string).

- The handler is called on the page's thread with two strings, \`param1\` and
  \`param2\`, after the TV raised the event; events arrive in the order the TV
  raised them.
- Only events the page asked for with \`SetEvent(kind)\` are raised by the TV;
  \`UnsetEvent(kind)\` stops them.
- Reading \`tv.OnEvent\` gives the stored name if one was ever set, otherwise
  the stored function, otherwise \`undefined\`.
- Assigning \`null\`, \`undefined\`, a number or a boolean **does not**
  unregister the handler: it changes nothing. To stop events, use
  \`UnsetEvent\`, or assign a function that ignores them.
- When both a function and a name were assigned, events go to the function.
- **A handler given by name is fragile.** The plug-in calls it by evaluating
  the text \`name("param1","param2");\` with both texts inserted *as they are*.
  A text that holds a double quote ends the string early, and a text with a
  line break leaves the string open: either way the call is a syntax error and
  the event is lost (nothing tells the page). A backslash is read as an escape
  (\`c:\\dir\` arrives as \`c:dir\`). Worse, a text such as
  \`x");doSomething();("\` runs code. Use a function handler; it receives the
  texts exactly (the end-to-end suite checks both behaviours).
  A TV may be built to quote the texts instead (the firmware option
  \`NPTV_QUOTE_EVENT_TEXTS\`): there a handler given by name receives both
  texts exactly, ill-formed UTF-8 as U+FFFD. A page cannot tell which kind of
  TV it runs on. Where event texts come from broadcast data (programme
  titles, reminders), a handler given by name on a TV without that option
  lets whoever writes those texts run script in your page.
- Events that arrive while the handler is being replaced go to the handler
  stored when they are delivered. Removing the \`<embed>\` stops delivery.
- **Several TV objects on one page (Qt WebKit):** after removing one
  \`<embed>\`, assign the function handlers of the others again. The browser
  may have tied a function handed to one TV object to another one of the
  page; when that one goes, the function silently stops receiving events
  (a soak of 1,000 embeds saw it after 0 to 23 % of removals, varying from
  run to run). A handler given by name is not affected.

## Events of the simulated TV

The simulated TV (see \`docs/simulator.md\`) raises an event only for the
kinds a page subscribed to with \`SetEvent(kind)\` (kinds 1 to 11; others are
refused with 0). param1 is the kind as a decimal text, param2 the new value:

| param1 | param2 | when |
|---|---|---|`);
  for (const e of api.events) out.push(`| ${mdEscape(e.param1)} | ${mdEscape(e.param2)} | ${mdEscape(e.when)} |`);
  out.push(`
Any text can be raised by hand through the simulated TV's control socket, for
example \`tvsim event 0 3 1\`.

## What the self-test's verdicts mean

The self-test page (\`selftest/\`, see \`docs/firmware.md\`) calls every
method above on a TV and gives each a verdict. For a page developer:

| verdict | meaning | what your page should do |
|---|---|---|
| pass | the answer has the documented type and range | rely on the method as documented |
| warn | plausible but odd: an empty programme list, the clock not set (\`IsTimeSet\` 0), a time of \`"0"\`, an empty title, a getter answering exactly its *on error* value, an answer other than 1 or 0 where 1 or 0 is usual, a median time above the limit (\`?slow=\`, 500 ms) | handle that answer: it happens on real TVs (no broadcast, no clock, a slow framework) |
| fail | wrong type (a number where a text belongs or the reverse), a text that did not decode (U+FFFD, a lone surrogate, control characters), a title over 511 bytes, a setter refusing the value its getter just gave, a wrong password accepted, a call that threw, an event that never came, or one handler kind (function, name) not called | do not rely on the method on this TV; report it to the TV's maker |
| not run | a setter without a getter (\`SetInternetTVState\`, \`SetJorvelState\`) is called only with \`?write=1\`; a setter whose getter gave its error value is not written back; \`GetProgram_*\` with an empty list | nothing |

The check *TV object* fails when there is no TV object on the page, when
every getter answered its fallback value and a wrong password was accepted
(the object has no TV behind it), or when every getter answered its error
value (the TV is unreachable): then no other verdict of the run means much.

## Trying a page on your desktop

\`tvbrowser\` (built with the project: \`build/<dir>/tools/tvbrowser/tvbrowser\`)
opens a page in Qt WebKit with the plug-in on its plug-in path, against the
simulated TV, and prints the page's console to the terminal. Without a
display it runs on a private Xvfb; \`--screenshot FILE.png\` saves what the
page shows. \`tools/run-demo.sh\` does all of this for the TV guide in
\`demo/\`.

\`\`\`sh
export QUV_SIM_SOCKET=/tmp/tv.sock           # steer the simulated TV from outside
export QUV_SIM_CONFIG=my-tv.json             # optional: its state (docs/simulator.md)
build/d/tools/tvbrowser/tvbrowser --screenshot page.png my-page.html &
build/d/tools/tvsim/tvsim event 0 2 44       # an event for the page's handler
build/d/tools/tvsim/tvsim set country 44     # a change the TV reports to subscribers
\`\`\`

A page (or a test) can end the run and set the exit status through the
window object \`tvbrowser\`: \`tvbrowser.pass(msg)\` (exit 0),
\`tvbrowser.fail(msg)\` (exit 1), \`tvbrowser.log(msg)\`, and
\`tvbrowser.sim(jsonLine)\`, which sends one request to the simulated TV's
control socket and returns the reply line. \`--timeout SECONDS\` fails a page
that gives no verdict (exit 3); \`tvbrowser --help\` lists everything.
The hook is given only to the top frame of the page the program was asked to
open, and again after it navigates only while it stays on that page's origin
(scheme, host and port): a page of another origin, in a frame or at the top,
sees no \`tvbrowser\`. \`tvwebkit\` does the same, and its hook's messages and
\`tvwebkit://\` requests carry a secret made for each run and are answered
only to the asked page's origin (no wildcard CORS).

To debug a page, \`--inspect\` opens Qt WebKit's Web Inspector (elements,
console, script debugger, network) beside it. \`--remote-inspector PORT\`
serves the inspector at \`http://127.0.0.1:PORT/\` instead (on this
machine's loopback interface only): tvbrowser prints that address, whose
page lists the loaded page with a link to its inspector. Open it in another
browser on the same machine; this works headless too. The inspector drives
the page's script, so only its own pages reach it: a request (or WebSocket
opening) whose \`Host\` is not \`127.0.0.1:PORT\` or \`localhost:PORT\`, or that
carries an \`Origin\` other than \`http://\` with one of those, gets 403 and is
closed, and so is one whose head is not whole within 3 s or 8 KiB. A page
of another origin open in your browser can therefore neither open the
inspector's socket nor read it through a name of its own that resolves to
127.0.0.1. Still, a program running on this machine can: use it only while
you need it.

## Trying a page in your usual browser

\`tools/run-bridge.sh --root DIR\` starts \`tvbridge\`, which hosts the same
plug-in module against the simulated TV and serves DIR at
\`http://127.0.0.1:8913/\`. A page that includes
\`<script src="/tv-bridge.js"></script>\` gets the TV object on every
\`<embed type="application/tv">\` in Chromium or Firefox, with their developer
tools. Calls are synchronous, as on the TV; events arrive when the page is
idle, as on the TV. What differs: an element cannot be called as a function
(\`tv()\`), and the script is absent when the page is opened from a file.

Each call is one synchronous request to the bridge, or, when the page is
cross-origin isolated (served with \`Cross-Origin-Opener-Policy: same-origin\`
and \`Cross-Origin-Embedder-Policy: require-corp\`, as \`tvbridge --isolate\`
serves it), one message on a WebSocket that a worker of the page holds: a
few times faster (BENCHMARKS.md). Answers, errors and the order of events are
the same on both. \`TVBridge.channel\` tells which one the next call takes:
\`'socket'\`, \`'http'\`, or \`'trying'\` for a moment after the page loaded, while
it finds out whether its socket can answer; calls made meanwhile go over
HTTP.

Events (and the bridge's note that the plug-in has work for the page) come
on a WebSocket to the bridge's socket port, whatever the page: its worker's
on an isolated page, one on the page's own thread otherwise. Only when that
socket cannot open (a \`connect-src\` policy of the page, say) does the page
fall back to an event stream on the HTTP port. So a tab holds no
long-lived request on the HTTP port, and any number of tabs load and
answer (a browser keeps six connections to one server: with one event
stream per tab, Firefox's sixth tab waited until one closed).
\`TVBridge.events\` tells what carries them: \`'socket'\` or \`'stream'\`. When
the page's socket or stream ends (the tab closed or crashed), the bridge
destroys the page's instances. Handlers run one after the other, each to its
end, as on the TV: an event that arrives while a handler (or any TV call) is
under way waits until it has returned, even in Firefox, which hands a page
its socket messages while a synchronous request waits.

| what you see | Chromium | Firefox |
|---|---|---|
| channel of an isolated page | the WebSocket | HTTP: a worker's connections go through the page's own thread in Firefox, so they cannot answer a page that waits. The page tries that five times after it loaded (50 ms each, the page busy meanwhile), then keeps to HTTP |
| a call from a \`pagehide\` or \`unload\` handler | throws \`Error: tv-bridge: the page is being unloaded: its TV objects are gone\` | the same (Firefox would still send the request; the bridge refuses it before, so both browsers behave alike) |
| script that runs while a call waits | none | Firefox may run some of the page's script (its \`DOMContentLoaded\` handlers, for one) while a synchronous request waits; the bridge keeps one page and one instance per embed all the same |
| a page back from the back-forward cache | its embeds get new instances | the same |

A call that gets no answer within 5 s (the simulated TV holds its reply, the
module is stuck) throws \`Error: tv-bridge: the bridge at
http://127.0.0.1:PORT/ gave no answer to GetCountry within 5 s\` (the method's name); the call still
runs in the bridge, and later calls wait for it. A bridge that stops or dies
while a call waits makes the call throw \`Error: tv-bridge: the bridge at
http://127.0.0.1:PORT/ does not answer (is tools/run-bridge.sh running?)\`, on
either channel. A bridge that is suspended (a stopped process, a debugger
holding it) cannot be told apart from a slow one by a synchronous request:
on HTTP the page then waits until it resumes; on the WebSocket the call
throws after 5 s.

What the bridge accepts and refuses. It listens on 127.0.0.1 only and
serves pages of its own origin (\`http://127.0.0.1:PORT\` or
\`http://localhost:PORT\`) only: every request is read whole (head and body)
before anything is decided on it, and every refused request closes its
connection, so that nothing sent after a refused request is ever read as a
request of its own.

| request | answer |
|---|---|
| another \`Host\`, another \`Origin\`, a \`/bridge/\` request without \`X-TV-Bridge: 1\` | 403 |
| a malformed request line or header, \`Content-Length\` given twice or not a number, JSON that does not parse or nests deeper than 32 arrays and objects | 400 |
| a method other than GET and POST | 405 |
| a request not read whole within 10 s of its first byte | 408 |
| a body over 1 MiB | 413 |
| a head over 16 KiB, or more than 64 headers | 431 |
| a body in a \`Transfer-Encoding\` (chunked) | 501 |
| a 65th page (a page whose socket or event stream has not opened within 10 s is closed, with its instances: a tab that died first) | 503 |
| a file whose path has a part starting with a dot (\`.git\`, \`.env\`), or outside the root | 404 |

A connection idle for 5 s between requests is closed; from one address at
most 128 connections that have not yet sent a whole request are kept (the
oldest goes for a new one), 512 connections in all. Every answer carries
\`X-Frame-Options: DENY\` and \`Content-Security-Policy: frame-ancestors
'none'\`: no page of another origin can frame the bridge's pages.

The socket port (127.0.0.1, a free port named in \`/tv-bridge.js\`) opens a
socket only for the bridge's own pages: \`Host\` \`127.0.0.1:SOCKETPORT\` or
\`localhost:SOCKETPORT\`, \`Origin\` the bridge's own, the path
\`/bridge/socket?page=TOKEN\` of a page that exists and has no socket or
event stream yet; otherwise it answers 403 (another \`Host\` or \`Origin\`),
404 (another path, an unknown page), 400 (no page token) or 409 (the page
has its socket or stream already), with a one-line reason, and closes the
connection. A connection that has not finished its opening handshake
within 3 s is dropped; of those at most 8 from one address and 32 in all
are kept (the oldest goes for a new one); open sockets are bounded by the
pages, one each. Messages follow the same JSON rule (400 for JSON nested
deeper than 32) and are at most 1 MiB (a longer one closes the socket,
status 1009); a page that leaves more than 4 MiB of its events unread has
its socket closed, and with it the page.
`);
  return out.join('\n');
}

// The method list of tvbridge's page script (tools/tvbridge/tv-bridge.js).
function makeBridgeMethods() {
  const names = methods.map((m) => `  '${m.name}',`).join('\n');
  return `// The TV object's methods, for tv-bridge.js.
// Generated from types/tv-api.json by types/generate.mjs: edit those, not this.
const TV_METHODS = [
${names}
];
`;
}

// The whole method list with its fallbacks and the events, for the self-test
// page (selftest/): it checks every method against these.
function makeSelftestApi() {
  const value = (text) => {
    try {
      return JSON.parse(text);
    } catch {
      return null; // not a script value: answered by the plug-in itself
    }
  };
  const list = api.groups.flatMap((g) => g.methods.map((m) => ({
    name: m.name, group: g.title, args: m.args.map((a) => a.kind), returns: m.returns,
    fallback: JSON.parse(m.fallback), onError: value(m.onError),
  })));
  const rows = list.map((m) => `  ${JSON.stringify(m)},`).join('\n');
  const events = api.events.map((e) => `  ${JSON.stringify({ kind: e.param1, value: e.param2, when: e.when })},`).join('\n');
  return `// The TV object's methods and events, for the self-test page.
// Generated from types/tv-api.json by types/generate.mjs: edit those, not this.
// fallback: the answer when the TV object has no TV behind it; onError: the
// answer when the TV answers with an error (null: answered by the plug-in).
var TV_API = [
${rows}
];
var TV_EVENTS = [
${events}
];
`;
}

const files = [
  ['types/tv.d.ts', makeDts()],
  ['docs/reference.md', makeReference()],
  ['tools/tvbridge/tv-methods.js', makeBridgeMethods()],
  ['selftest/tv-api.js', makeSelftestApi()],
];
const checkOnly = process.argv.includes('--check');
let stale = 0;
for (const [rel, text] of files) {
  const path = join(root, rel);
  let old = null;
  try {
    old = readFileSync(path, 'utf8');
  } catch {}
  if (old === text) continue;
  if (checkOnly) {
    console.error(`${rel} is not what types/tv-api.json gives: run node types/generate.mjs`);
    stale++;
  } else {
    writeFileSync(path, text);
    console.log(`wrote ${rel}`);
  }
}
if (checkOnly && stale === 0) console.log(`${files.map((f) => f[0]).join(', ')} match types/tv-api.json`);
process.exit(stale ? 1 : 0);
