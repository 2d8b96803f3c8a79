// The TV object in a desktop browser, served by tvbridge as /tv-bridge.js
// (after the generated TV_METHODS list, inside one function scope).
// Every <embed type="application/tv"> gets the TV's methods and OnEvent; each
// is one plug-in instance in the bridge, made when the embed appears in the
// document and destroyed when it leaves or the page goes away. Calls are
// synchronous, as on the TV: one synchronous request each, or, on a
// cross-origin isolated page, one message on the page's WebSocket (faster).
// Events arrive on the page's WebSocket (its worker's when isolated), or on
// an event stream when no socket opens: one long-lived connection per page,
// and none on the bridge's HTTP port unless the socket failed, so that a
// browser's few connections per server serve any number of tabs.
'use strict';

const ORIGIN = location.origin;
const HEADER = 'X-TV-Bridge';
let pageToken = null;
let events = null;            // the page's socket or event stream (not the worker's)
const instances = new Map();  // embed -> instance number
const live = new Set();       // instance numbers of embeds in the document
const handles = new Map();    // handle -> the page's value (OnEvent)
const handleOf = new Map();   // the page's value -> handle
let nextHandle = 1;

function bridgeError(what) {
  return new Error('tv-bridge: ' + what);
}

const TIMEOUT_MS = 5000;      // a call with no answer by then throws
let leaving = false;          // the page is being unloaded: its TV objects are gone

function noAnswer() {
  return bridgeError('the bridge at ' + ORIGIN + '/ does not answer (is tools/run-bridge.sh running?)');
}

// An answer that is not 200: the same Error on either channel.
function refused(action, body, status, reason) {
  if (status === 504) {
    return bridgeError('the bridge at ' + ORIGIN + '/ gave no answer to ' + (body.method || body.property || action) +
                       ' within ' + TIMEOUT_MS / 1000 + ' s');
  }
  return bridgeError(action + ': ' + (reason.trim().replace(/^tvbridge: /, '') || 'HTTP ' + status));
}

// One synchronous request to the bridge; its JSON answer. Over the page's
// socket once it is open (cross-origin isolated pages), else over HTTP.
//
// Firefox runs some of the page's script while a synchronous request waits
// (the document's DOMContentLoaded, for one): a request may start while
// another is under way. page() and attach() allow for that.
let requesting = 0;           // synchronous requests under way (Firefox nests them)
function request(action, body) {
  if (leaving) throw bridgeError('the page is being unloaded: its TV objects are gone');
  if (fast && fast.open) return fast.request(action, body);
  const x = new XMLHttpRequest();
  requesting++;
  try {
    x.open('POST', '/bridge/' + action, false);
    x.setRequestHeader(HEADER, '1');
    x.setRequestHeader('Content-Type', 'application/json');
    x.send(JSON.stringify(body));
  } catch (e) {
    throw noAnswer();
  } finally {
    requesting--;
  }
  if (x.status === 0) throw noAnswer();
  if (x.status !== 200) throw refused(action, body, x.status, x.responseText);
  return JSON.parse(x.responseText);
}

// ---- The socket channel ----------------------------------------------------------
// A dedicated worker holds a WebSocket to the bridge. The page hands it a
// request and waits on a SharedArrayBuffer (polling: Atomics.wait is refused
// on a page's main thread) until the worker wrote the answer there; answers
// longer than the buffer come in parts, each asked for by the page.
const IDLE = 0, DONE = 1, MORE = 2, FAILED = 3;
const CAPACITY = 1 << 16;
let fast = null;

const WORKER = `'use strict';
let ws = null, ctl = null, data = null, current = 0, rest = null, closed = false;
const encoder = new TextEncoder();
function write(state, bytes) {
  const n = bytes ? Math.min(bytes.length, data.length) : 0;
  if (n) data.set(bytes.subarray(0, n));
  rest = bytes && n < bytes.length ? bytes.subarray(n) : null;
  Atomics.store(ctl, 1, current);
  Atomics.store(ctl, 2, n);
  Atomics.store(ctl, 0, state === DONE && rest ? MORE : state);
  Atomics.notify(ctl, 0);
}
onmessage = function (e) {
  const m = e.data;
  if (m.init) {
    ctl = new Int32Array(m.sab, 0, 4);
    data = new Uint8Array(m.sab, 16);
    ws = new WebSocket(m.url);
    ws.onopen = function () { postMessage({ open: true }); };
    ws.onmessage = function (ev) {
      const r = JSON.parse(ev.data);
      if (r.kind) postMessage({ event: ev.data });
      else if (r.id === current) write(DONE, encoder.encode(ev.data));  // else: a call the page gave up on
    };
    ws.onclose = function () {
      closed = true;
      if (current) write(FAILED, null);
      postMessage({ closed: true });
    };
  } else if (m.more) {
    write(DONE, rest);
  } else if (m.call) {
    current = m.id;
    if (closed) write(FAILED, null); else ws.send(m.call);
  }
};`.replace(/\b(IDLE|DONE|MORE|FAILED)\b/g, function (k) { return { IDLE: IDLE, DONE: DONE, MORE: MORE, FAILED: FAILED }[k]; });

// Whether the socket answers while the page waits. In some browsers a
// worker's socket works through the page's own thread, so it could never
// answer a waiting page: the page's calls then keep to HTTP (its events
// still come on the socket). Tried a few times, as a loaded machine may be
// slow once.
const PROBE_MS = 50, PROBES = 5;
function probe(channel, n) {
  if (fast !== channel || leaving) return;
  try {
    channel.request('ping', {}, PROBE_MS);
    channel.open = true;
    return;
  } catch (e) {
    // no answer while waiting: again later, or HTTP for good
  }
  if (n < PROBES) {
    setTimeout(function () { probe(channel, n + 1); }, PROBE_MS);
  } else {
    channel.slow = true;
  }
}

function socketUrl(token) {
  return 'ws://' + location.hostname + ':' + SOCKET_PORT + '/bridge/socket?page=' + token;
}

// The worker's socket, on a cross-origin isolated page; false elsewhere.
function startSocket(token) {
  if (!self.crossOriginIsolated || typeof SharedArrayBuffer !== 'function') return false;
  const sab = new SharedArrayBuffer(16 + CAPACITY);
  const ctl = new Int32Array(sab, 0, 4);
  const data = new Uint8Array(sab, 16);
  const decoder = new TextDecoder();
  const url = URL.createObjectURL(new Blob([WORKER], { type: 'text/javascript' }));
  const worker = new Worker(url);
  URL.revokeObjectURL(url);
  const channel = { open: false, opened: false, slow: false, closed: false, worker: worker, next: 1 };
  // Until the socket is open, calls go over HTTP: the same answers. Once it
  // closed, calls fail as they would on HTTP (the bridge closed the page).
  worker.onmessage = function (e) {
    if (e.data.event) dispatch(e.data.event);
    if (e.data.open) {
      channel.opened = true;
      probe(channel, 1);
    }
    if (e.data.closed) {
      channel.open = false;
      channel.closed = true;
      ended(channel.opened, token);
    }
  };
  channel.request = function (action, body, limit) {
    const id = channel.next++;
    const parts = [];
    Atomics.store(ctl, 0, IDLE);
    worker.postMessage({ call: JSON.stringify({ id: id, action: action, body: body }), id: id });
    const deadline = performance.now() + (limit || TIMEOUT_MS);
    for (;;) {
      const state = Atomics.load(ctl, 0);
      if (state === IDLE || Atomics.load(ctl, 1) !== id) {
        if (performance.now() > deadline) throw refused(action, body, 504, '');
        continue;
      }
      if (state === FAILED) throw noAnswer();
      parts.push(data.slice(0, Atomics.load(ctl, 2)));
      if (state === DONE) break;
      Atomics.store(ctl, 0, IDLE);
      worker.postMessage({ more: true });
    }
    let text;
    if (parts.length === 1) {
      text = decoder.decode(parts[0]);
    } else {
      const all = new Uint8Array(parts.reduce(function (n, p) { return n + p.length; }, 0));
      parts.reduce(function (at, p) { all.set(p, at); return at + p.length; }, 0);
      text = decoder.decode(all);
    }
    const r = JSON.parse(text);
    if (r.status !== 200) throw refused(action, body, r.status, r.reason);
    return r.reply;
  };
  fast = channel;
  worker.postMessage({ init: true, sab: sab, url: socketUrl(token) });
  return true;
}

// ---- Values -----------------------------------------------------------------------
function handle(value) {
  let h = handleOf.get(value);
  if (!h) {
    h = nextHandle++;
    handleOf.set(value, h);
    handles.set(h, value);
  }
  return h;
}

// A script value as a browser hands it to a plug-in.
function encode(v, keep) {
  switch (typeof v) {
    case 'number':
      if (Number.isInteger(v) && v >= -2147483648 && v <= 2147483647 && !Object.is(v, -0)) return { t: 'int', v: v };
      return { t: 'double', v: Number.isFinite(v) && !Object.is(v, -0) ? v : String(Object.is(v, -0) ? '-0' : v) };
    case 'string': return { t: 'string', v: v };
    case 'boolean': return { t: 'boolean', v: v };
    case 'undefined': return { t: 'undefined' };
    case 'object':
      if (v === null) return { t: 'null' };
      // fall through
    case 'function': {
      const out = { t: 'object', callable: typeof v === 'function' };
      if (keep) out.h = handle(v);
      return out;
    }
    default:
      throw new TypeError('tv-bridge: a ' + typeof v + ' cannot be handed to the TV object');
  }
}

function decode(r) {
  switch (r.t) {
    case 'undefined': return undefined;
    case 'null': return null;
    case 'int': case 'boolean': case 'string': return r.v;
    case 'double': return typeof r.v === 'number' ? r.v : Number(r.v);
    case 'object': return r.h && handles.has(r.h) ? handles.get(r.h) : (r.callable ? function () {} : {});
    default: throw bridgeError('an answer of unknown type ' + r.t);
  }
}

// ---- Events -------------------------------------------------------------------------
// An event for an instance that is gone (its embed left the document while
// the event was on its way) is dropped, as the plug-in's own would be.
//
// The plug-in's work for this page (its events) runs in the bridge when the
// page asks, between the page's own tasks, as on the TV's main thread: the
// socket says "work" when there is some, and the page asks (a synchronous
// request, so none of the page's script runs meanwhile) in a task of its
// own, never inside another request (Firefox delivers socket and stream
// messages while a synchronous request of the page waits, ours or its own).
function pump() {
  if (!pageToken) return;
  if (requesting) {
    setTimeout(pump, 0);
    return;
  }
  try {
    request('pump', { page: pageToken });
  } catch (e) {
    console.error(String(e));
  }
}

// Handlers run one after the other, each to its end, as on the TV: an event
// that arrives while a handler or a TV call is under way (Firefox delivers
// socket messages while a synchronous request waits) waits in `arrived`
// until the one before it has returned.
const arrived = [];
let delivering = false;
let later = false;            // a task to deliver them is set

function dispatch(text) {
  const event = JSON.parse(text);
  if (event.kind === 'work') {
    setTimeout(pump, 0);  // a task of its own: never inside the page's current one
    return;
  }
  if (event.kind !== 'call' && event.kind !== 'eval') return;
  arrived.push(event);
  deliver();
}

function deliverLater() {
  if (later) return;
  later = true;
  setTimeout(function () { later = false; deliver(); }, 0);
}

function deliver() {
  if (delivering) return;  // the running loop takes it
  if (requesting) return deliverLater();
  delivering = true;
  try {
    while (arrived.length) run(arrived.shift());
  } finally {
    delivering = false;
    // A handler threw: the rest in a task of their own (the error is the page's).
    if (arrived.length) deliverLater();
  }
}

function run(event) {
  if (!live.has(event.instance)) return;
  if (event.kind === 'call') {
    const fn = handles.get(event.fn);
    if (typeof fn === 'function') fn.apply(window, event.args.map(decode));
  } else {
    (0, eval)(event.script);  // the page's global scope, as the TV's browser does
  }
}

function page() {
  if (pageToken) return pageToken;
  const token = request('page', {}).page;
  if (pageToken) {
    // made meanwhile, by script that ran while this request waited
    request('close', { page: token });
    return pageToken;
  }
  pageToken = token;
  listen(token);
  return pageToken;
}

// The page's events: on a socket (the worker's on an isolated page), else,
// when the socket does not open (no socket port, a policy of the page), on
// an event stream. The bridge closes the page when either ends.
function listen(token) {
  if (typeof SOCKET_PORT !== 'number' || !SOCKET_PORT || typeof WebSocket !== 'function') return eventStream(token);
  if (startSocket(token)) return;
  let opened = false;
  let ws;
  try {
    ws = new WebSocket(socketUrl(token));
  } catch (e) {
    return eventStream(token);  // refused by the page's policy
  }
  ws.onopen = function () { opened = true; };
  ws.onmessage = function (m) { dispatch(m.data); };
  ws.onclose = function () { ended(opened, token); };
  events = ws;
}

function eventStream(token) {
  const stream = new EventSource('/bridge/events?page=' + token);
  stream.onmessage = function (m) { dispatch(m.data); };
  stream.onerror = function () { if (stream.readyState === EventSource.CLOSED) ended(true, token); };
  events = stream;
}

// The page's socket or stream closed: the stream instead of a socket that
// never opened; otherwise the bridge has closed the page.
function ended(opened, token) {
  if (token !== pageToken || leaving) return;
  if (!opened) return eventStream(token);
  console.error('tv-bridge: the event channel from ' + ORIGIN + '/ ended: TV events no longer arrive');
}

// ---- Embeds -------------------------------------------------------------------------
function isTV(e) {
  return e instanceof HTMLEmbedElement && (e.getAttribute('type') || '').toLowerCase() === 'application/tv';
}

// The embed's instance (made now when it has none); 1 like the TV object called.
function attach(e) {
  if (!isTV(e)) throw new TypeError('tv-bridge: not an <embed type="application/tv">');
  if (!e.isConnected) throw new TypeError('tv-bridge: this <embed> is not in the document: it has no TV object');
  if (!instances.has(e)) {
    const token = page();
    const instance = request('new', { page: token }).instance;
    if (instances.has(e) || token !== pageToken) {
      request('destroy', { page: token, instance: instance });  // it got one meanwhile
    } else {
      instances.set(e, instance);
      live.add(instance);
    }
  }
  return 1;
}

function detach(e) {
  const instance = instances.get(e);
  if (instance === undefined) return;
  instances.delete(e);
  live.delete(instance);
  request('destroy', { page: pageToken, instance: instance });
}

function call(e, body) {
  attach(e);
  body.page = pageToken;
  body.instance = instances.get(e);
  return body;
}

const proto = HTMLEmbedElement.prototype;
TV_METHODS.forEach(function (name) {
  Object.defineProperty(proto, name, {
    configurable: true, writable: true, enumerable: false,
    value: function () {
      const args = Array.prototype.map.call(arguments, function (a) { return encode(a, false); });
      const r = request('invoke', call(this, { method: name, args: args }));
      if (!r.ok) throw bridgeError(name + ': the TV object refused the call (wrong number of arguments?)');
      return decode(r.result);
    },
  });
});
Object.defineProperty(proto, 'OnEvent', {
  configurable: true, enumerable: false,
  get: function () {
    if (!isTV(this)) return undefined;
    const r = request('get', call(this, { property: 'OnEvent' }));
    if (!r.ok) throw bridgeError('OnEvent: the TV object refused to answer');
    return decode(r.result);
  },
  set: function (value) {
    if (!isTV(this)) return;
    const r = request('set', call(this, { property: 'OnEvent', value: encode(value, true) }));
    if (!r.ok) throw bridgeError('OnEvent: the TV object refused the value');
  },
});

function each(node, fn) {
  if (node.nodeType !== 1) return;
  if (isTV(node)) fn(node);
  node.querySelectorAll('embed').forEach(function (e) { if (isTV(e)) fn(e); });
}

function changed(records) {
  records.forEach(function (r) {
    r.removedNodes.forEach(function (n) { each(n, function (e) { if (!e.isConnected) detach(e); }); });
    r.addedNodes.forEach(function (n) { each(n, function (e) { if (e.isConnected) attach(e); }); });
  });
}
new MutationObserver(changed).observe(document, { childList: true, subtree: true });

function attachAll() {
  document.querySelectorAll('embed').forEach(function (e) { if (isTV(e) && e.isConnected) attach(e); });
}
if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', attachAll);
else attachAll();

// The page goes away: its instances with it. A TV call from its
// beforeunload, pagehide or unload handlers throws, in every browser alike
// (Chromium refuses a synchronous request then; Firefox would send it). A
// beforeunload that the user cancels leaves the page as it was.
window.addEventListener('beforeunload', function () {
  leaving = true;
  setTimeout(function () { if (pageToken) leaving = false; }, 0);
});
window.addEventListener('pagehide', function () {
  leaving = true;
  if (!pageToken) return;
  if (events) events.close();
  events = null;
  if (fast) fast.worker.terminate();
  fast = null;
  fetch('/bridge/close', {
    method: 'POST', keepalive: true, body: JSON.stringify({ page: pageToken }),
    headers: { 'X-TV-Bridge': '1', 'Content-Type': 'application/json' },
  }).catch(function () {});
  pageToken = null;
  instances.clear();
  live.clear();
});
// Back from the back-forward cache: the embeds get new instances.
window.addEventListener('pageshow', function (e) {
  if (!e.persisted) return;
  leaving = false;
  attachAll();
});

window.TVBridge = {
  attach: attach, origin: ORIGIN,
  // The channel the next call takes: 'socket', 'http', or 'trying' while the
  // page finds out whether its socket answers.
  get channel() { return !fast || fast.closed || fast.slow ? 'http' : fast.open ? 'socket' : 'trying'; },
  // What carries the page's events: 'socket', 'stream', or null before the
  // page has any.
  get events() {
    return events instanceof EventSource ? 'stream' : events || (fast && !fast.closed) ? 'socket' : null;
  },
};
