// The TV object in a desktop browser, served by tvbridge as /tv-bridge.js
// (after the generated TV_METHODS list, inside one function scope).
// Every <embed type="application/tv"> gets the TV's methods and OnEvent; each
// is one plug-in instance in the bridge, made when the embed appears in the
// document and destroyed when it leaves or the page goes away. Calls are
// synchronous, as on the TV. Events arrive on one event stream per page.
'use strict';

const ORIGIN = location.origin;
const HEADER = 'X-TV-Bridge';
let pageToken = null;
let stream = null;
const instances = new Map();  // embed -> instance number
const live = new Set();       // instance numbers of embeds in the document
const handles = new Map();    // handle -> the page's value (OnEvent)
const handleOf = new Map();   // the page's value -> handle
let nextHandle = 1;

function bridgeError(what) {
  return new Error('tv-bridge: ' + what);
}

// One synchronous request to the bridge; its JSON answer.
function request(action, body) {
  const x = new XMLHttpRequest();
  try {
    x.open('POST', '/bridge/' + action, false);
    x.setRequestHeader(HEADER, '1');
    x.setRequestHeader('Content-Type', 'application/json');
    x.send(JSON.stringify(body));
  } catch (e) {
    throw bridgeError('the bridge at ' + ORIGIN + '/ does not answer (is tools/run-bridge.sh running?)');
  }
  if (x.status === 0) throw bridgeError('the bridge at ' + ORIGIN + '/ does not answer (is tools/run-bridge.sh running?)');
  if (x.status !== 200) throw bridgeError(action + ': ' + (x.responseText.trim().replace(/^tvbridge: /, '') || 'HTTP ' + x.status));
  return JSON.parse(x.responseText);
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
function dispatch(message) {
  const event = JSON.parse(message.data);
  if (!live.has(event.instance)) return;
  if (event.kind === 'call') {
    const fn = handles.get(event.fn);
    if (typeof fn === 'function') fn.apply(window, event.args.map(decode));
  } else if (event.kind === 'eval') {
    (0, eval)(event.script);  // the page's global scope, as the TV's browser does
  }
}

// The plug-in's work for this page (its events) runs in the bridge when the
// page asks, between the page's own tasks, as on the TV's main thread: the
// page waits until there is some, then asks (a synchronous request, so none
// of the page's script runs meanwhile).
function waitForWork(token) {
  const x = new XMLHttpRequest();
  x.open('POST', '/bridge/wait', true);
  x.setRequestHeader(HEADER, '1');
  x.setRequestHeader('Content-Type', 'application/json');
  x.onloadend = function () {
    if (token !== pageToken || x.status !== 200) return;  // the page or the bridge is gone
    if (JSON.parse(x.responseText).pending) {
      try {
        request('pump', { page: token });
      } catch (e) {
        console.error(String(e));
        return;
      }
    }
    waitForWork(token);
  };
  x.send(JSON.stringify({ page: token }));
}

function page() {
  if (pageToken) return pageToken;
  pageToken = request('page', {}).page;
  stream = new EventSource('/bridge/events?page=' + pageToken);
  stream.onmessage = dispatch;
  waitForWork(pageToken);
  stream.onerror = function () {
    if (stream.readyState === EventSource.CLOSED)
      console.error('tv-bridge: the event stream from ' + ORIGIN + '/ ended: TV events no longer arrive');
  };
  return pageToken;
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
    const instance = request('new', { page: page() }).instance;
    instances.set(e, instance);
    live.add(instance);
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

new MutationObserver(function (records) {
  records.forEach(function (r) {
    r.removedNodes.forEach(function (n) { each(n, function (e) { if (!e.isConnected) detach(e); }); });
    r.addedNodes.forEach(function (n) { each(n, function (e) { if (e.isConnected) attach(e); }); });
  });
}).observe(document, { childList: true, subtree: true });

function attachAll() {
  document.querySelectorAll('embed').forEach(function (e) { if (isTV(e) && e.isConnected) attach(e); });
}
if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', attachAll);
else attachAll();

window.addEventListener('pagehide', function () {
  if (!pageToken) return;
  if (stream) stream.close();
  fetch('/bridge/close', {
    method: 'POST', keepalive: true, body: JSON.stringify({ page: pageToken }),
    headers: { 'X-TV-Bridge': '1', 'Content-Type': 'application/json' },
  }).catch(function () {});
  pageToken = null;
  instances.clear();
  live.clear();
});

window.TVBridge = { attach: attach, origin: ORIGIN };
