// The extension test pages' helpers: every check prints one line through
// the runner (wk-page); the page passes when no check failed.
'use strict';
// In tvbrowser (Qt WebKit, NPAPI built in) the same pages run through its
// page hook, for comparison; checks that need the extension's counts say so.
var T = (function () {
  const qt = typeof tvbrowser !== 'undefined';
  const port = qt ? {
    postMessage: function (m) {
      if ('log' in m) tvbrowser.log(m.log);
      else if ('sim' in m) {
        if (Array.isArray(m.sim)) return Promise.resolve('[' + m.sim.map(r => tvbrowser.sim(JSON.stringify(r))).join(',') + ']');
        return Promise.resolve(tvbrowser.sim(JSON.stringify(m.sim)));
      } else if ('done' in m) {
        if (m.done) tvbrowser.pass('passed'); else tvbrowser.fail('failed');
      }
      return Promise.resolve('null');
    },
  } : window.webkit.messageHandlers.nptv;
  let failed = 0, passed = 0;
  function log(text) { return port.postMessage({ log: String(text) }); }
  function record(ok, name, detail) {
    if (ok) passed++; else failed++;
    log((ok ? 'ok - ' : 'not ok - ') + name + (ok || !detail ? '' : ': ' + detail));
    return ok;
  }
  function show(v) {
    try { return typeof v === 'string' ? JSON.stringify(v) : String(v); } catch (e) { return '?'; }
  }
  function check(name, actual, expected) {
    const same = typeof actual === typeof expected && actual === expected;
    return record(same, name, 'got ' + show(actual) + ' (' + typeof actual + '), want ' +
      show(expected) + ' (' + typeof expected + ')');
  }
  function ok(name, cond, detail) { return record(!!cond, name, detail); }
  function throws(name, fn) {
    try { const r = fn(); return record(false, name, 'did not throw; returned ' + show(r)); }
    catch (e) { return record(true, name); }
  }
  function sim(request) {
    return port.postMessage({ sim: request }).then(function (line) {
      const reply = JSON.parse(line);
      if (!reply.ok) throw new Error('the simulated TV refused ' + JSON.stringify(request) + ': ' + line);
      return reply;
    });
  }
  // Several requests on one connection, back to back: their replies.
  function simAll(requests) {
    return port.postMessage({ sim: requests }).then(JSON.parse);
  }
  function embed(id, attributes) {
    const e = document.createElement('embed');
    e.type = 'application/tv';
    if (id) e.id = id;
    for (const k in attributes || {}) e.setAttribute(k, attributes[k]);
    document.body.appendChild(e);
    return e;
  }
  // Waits until pred() holds, looking after every task (never on a clock).
  function until(what, pred) {
    return new Promise(function (resolve) {
      function look() { if (pred()) resolve(); else setTimeout(look, 0); }
      look();
    });
  }
  function openConnections() {
    return sim({ cmd: 'connections' }).then(function (r) {
      return r.connections.filter(function (c) { return c.open; }).length;
    });
  }
  const HANDOFF = {};
  // Runs the page's checks (a function, which may answer a promise), then
  // gives the verdict.
  function run(body) {
    function verdict() {
      log(passed + ' passed, ' + failed + ' failed');
      port.postMessage({ done: failed === 0 && passed > 0 });
    }
    Promise.resolve().then(body).then(function (r) {
      if (r !== HANDOFF) return verdict();
      log(passed + ' passed, ' + failed + ' failed on this page');
      if (failed) port.postMessage({ done: false });
    }, function (e) {
      record(false, 'the page ran to its end', String(e) + (e && e.stack ? ' at ' + e.stack : ''));
      verdict();
    });
  }
  // The host's counts; null in tvbrowser.
  function stats() { return qt ? null : window.nptvStats(); }
  // The plug-in's own script object of an element (in tvbrowser: the element).
  function pluginObject(element) { return qt ? element : window.nptvProbeObject(element); }
  return { qt, pluginObject, handoff: function () { return HANDOFF; }, log, check, ok, throws, sim, simAll, embed, until, openConnections, run,
           stats };
})();
