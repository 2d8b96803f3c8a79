// The end-to-end pages' harness: checks (one line each; the page passes when
// none failed), waits on events (never on time), the control socket, the verdict.
'use strict';

var E2E = (function () {
  let passed = 0;
  let failed = 0;
  let finished = false;

  function fmt(v) {
    if (typeof v === 'string') return JSON.stringify(v);
    if (typeof v === 'function') return 'function ' + (v.name || '(anonymous)');
    if (v && typeof v === 'object') {
      try { return JSON.stringify(v); } catch (e) { return String(v); }
    }
    return String(v);
  }

  function record(ok, name, detail) {
    if (ok) passed++; else failed++;
    console.log(ok ? 'ok - ' + name : 'not ok - ' + name + (detail ? ': ' + detail : ''));
    return ok;
  }

  // Same value and same type (a number 1 is not the text "1").
  function check(name, actual, expected) {
    const same = typeof actual === typeof expected &&
      (actual === expected || (actual !== actual && expected !== expected));
    return record(same, name, 'got ' + fmt(actual) + ' (' + typeof actual + '), want ' + fmt(expected) +
      ' (' + typeof expected + ')');
  }

  function ok(name, cond, detail) {
    return record(!!cond, name, detail || '');
  }

  function equalLists(name, actual, expected) {
    const a = JSON.stringify(actual), b = JSON.stringify(expected);
    return record(a === b, name, 'got ' + shorten(a) + ', want ' + shorten(b));
  }

  const shorten = (s) => s.length > 600 ? s.slice(0, 600) + '…(' + s.length + ' chars)' : s;

  // The call must throw (a script error), and nothing else.
  function throws(name, fn) {
    try {
      const r = fn();
      return record(false, name, 'did not throw; returned ' + fmt(r));
    } catch (e) {
      return record(true, name);
    }
  }

  // ---- The simulated TV's control socket ----------------------------------------
  // One JSON request, its parsed reply; a reply that is not ok stops the page.
  function sim(request) {
    const line = tvbrowser.sim(JSON.stringify(request));
    let reply = null;
    try { reply = JSON.parse(line); } catch (e) { throw new Error('control socket: not JSON: ' + line); }
    if (!reply.ok) throw new Error('control socket refused ' + JSON.stringify(request) + ': ' + line);
    return reply;
  }

  function raise(param1, param2) {
    return sim({ cmd: 'event', type: 0, param1: param1, param2: param2 });
  }

  // ---- Files next to the pages --------------------------------------------------
  function readFile(relativeUrl) {
    const x = new XMLHttpRequest();
    x.open('GET', relativeUrl, false);
    x.send(null);
    if (!x.responseText) throw new Error('could not read ' + relativeUrl);
    return x.responseText;
  }

  // The methods as the page developers' reference lists them.
  let apiCache = null;
  function api() {
    if (!apiCache) {
      const data = JSON.parse(readFile('../../../types/tv-api.json'));
      apiCache = [];
      data.groups.forEach(function (g) { g.methods.forEach(function (m) { apiCache.push(m); }); });
    }
    return apiCache;
  }

  // ---- Events ----------------------------------------------------------------------
  // A recorder: a handler keeping every call's arguments, waking waiters.
  function recorder(label) {
    const calls = [];
    const waiters = [];
    function handler() {
      calls.push(Array.prototype.slice.call(arguments));
      for (let i = waiters.length - 1; i >= 0; i--) {
        if (waiters[i].test()) {
          const w = waiters.splice(i, 1)[0];
          w.resolve(calls);
        }
      }
    }
    handler.calls = calls;
    // Resolves once `pred(calls)` holds; it is tested after every call.
    handler.until = function (what, pred) {
      if (pred(calls)) return Promise.resolve(calls);
      console.log('… ' + label + ': waiting for ' + what + ' (have ' + calls.length + ' calls)');
      return new Promise(function (resolve) {
        waiters.push({ test: function () { return pred(calls); }, resolve: resolve });
      });
    };
    handler.count = function (n) {
      return handler.until(n + ' calls', function (c) { return c.length >= n; });
    };
    // Resolves when a call with this first argument arrived.
    handler.marker = function (param1) {
      return handler.until('the marker ' + JSON.stringify(param1), function (c) {
        for (let i = 0; i < c.length; i++) if (c[i][0] === param1) return true;
        return false;
      });
    };
    return handler;
  }

  // Resolves once pred() holds, looked at after every task (never on a clock).
  function until(pred) {
    return new Promise(function look(resolve) { if (pred()) resolve(); else setTimeout(look, 0, resolve); });
  }

  // ---- TV objects --------------------------------------------------------------------
  // Brings the <embed>'s instance to life: calling it (tvbrowser, answers 1),
  // the bridge's attach (/tv-bridge.js), or nothing (tvwebkit: its methods tell).
  function touch(e) {
    if (window.TVBridge) return window.TVBridge.attach(e);
    if (window.tvbrowser && tvbrowser.elementCallable === false) return typeof e.GetCountry === 'function' ? 1 : 0;
    return e();
  }

  // What the host offers a page; what it lacks is said, not failed:
  //   'callable element' (an <embed> called as a function: Qt WebKit only),
  //   'statistics' (window.nptvStats), 'control socket' (tvbrowser.sim).
  function offers(need) {
    const host = window.tvbrowser || {};
    const has = need === 'callable element' ? !window.TVBridge && host.elementCallable !== false
      : need === 'statistics' ? typeof window.nptvStats === 'function'
      : need === 'control socket' ? typeof host.sim === 'function' : null;
    if (has === null) throw new Error('unknown need ' + need);
    if (!has) console.log('# this host offers no ' + need + ': its checks are not run');
    return has;
  }

  // The TV object called as a function, or the text of what it threw.
  function callSelf(e) {
    const args = Array.prototype.slice.call(arguments, 1);
    try {
      return Function.prototype.apply.call(e, null, args);
    } catch (err) {
      return 'threw ' + err;
    }
  }

  // A new <embed type="application/tv"> in the page, its instance brought to life.
  function embed(id) {
    const e = document.createElement('embed');
    e.type = 'application/tv';
    e.width = 1;
    e.height = 1;
    if (id) e.id = id;
    document.body.appendChild(e);
    if (touch(e) !== 1) throw new Error('the new <embed> has no TV object');
    return e;
  }

  const remove = (e) => e.parentNode.removeChild(e);

  // ---- Running -----------------------------------------------------------------------
  // Checks that passed on an earlier load of the page (see soak.html).
  const carry = (n) => { passed += n; };
  const counts = () => ({ passed: passed, failed: failed });

  function finish() {
    if (finished) return;
    finished = true;
    const summary = passed + ' checks passed, ' + failed + ' failed';
    console.log(summary);
    if (failed === 0 && passed > 0) tvbrowser.pass(summary);
    else tvbrowser.fail(passed === 0 ? 'no check ran' : summary);
  }

  function abort(e) {
    failed++;
    console.log('not ok - the page stopped: ' + (e && e.stack ? e.stack : e));
    finish();
  }

  // Runs the body (it may return a promise) once the page has loaded; any exception fails the page.
  function run(body) {
    function start() {
      try {
        // Instances (and the control socket) come to life when script touches their <embed>.
        Array.prototype.forEach.call(document.querySelectorAll('embed'), function (e) { touch(e); });
        Promise.resolve(body()).then(finish, abort);
      } catch (e) {
        abort(e);
      }
    }
    // Run by tvbrowser --script, the page has loaded already.
    if (document.readyState === 'complete') start();
    else window.addEventListener('load', start);
  }

  return {
    check: check, ok: ok, equalLists: equalLists, throws: throws, fmt: fmt,
    sim: sim, raise: raise, embed: embed, offers: offers, callSelf: callSelf, remove: remove, carry: carry, counts: counts, api: api, recorder: recorder, until: until, run: run,
  };
})();
