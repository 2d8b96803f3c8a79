// Injected by tvwebkit at the start of every page: what tvbrowser gives a
// page (window.tvbrowser), and the page's console lines and script errors
// sent to the host program, which prints them. Verdicts and lines go through
// one message handler, so they arrive in the order the page made them.
// Only the top frame of the asked page's origin gets it (ORIGIN); its
// messages and requests carry the run's secret (SECRET), which the program
// checks, so that no other frame can speak for the page.
(function () {
  'use strict';
  if (window.tvbrowser) return;
  const here = location.protocol === 'file:' ? 'file://' : location.protocol + '//' + location.host;
  if (here !== ORIGIN) return;
  const handler = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.tvwebkit;
  if (!handler) return;
  function post(kind, text) {
    handler.postMessage([SECRET, kind, text === undefined ? '' : String(text)]);
  }
  // A synchronous request to the host program (tvwebkit://WHAT); its answer.
  function ask(what, body) {
    const x = new XMLHttpRequest();
    x.open('GET', 'tvwebkit://host/' + SECRET + '/' + what + (body === undefined ? '' : '?' + encodeURIComponent(body)), false);
    x.send(null);
    return x.responseText;
  }
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function (name) {
    const original = console[name];
    console[name] = function () {
      post('console', Array.prototype.map.call(arguments, function (a) { return String(a); }).join(' '));
      return original.apply(console, arguments);
    };
  });
  window.addEventListener('error', function (e) {
    post('console', e.error ? String(e.error) : e.message);
  });
  window.addEventListener('unhandledrejection', function (e) {
    post('console', 'Unhandled promise rejection: ' + e.reason);
  });
  window.tvbrowser = Object.freeze({
    headless: HEADLESS,
    elementCallable: false,
    pass: function (msg) { post('pass', msg); },
    fail: function (msg) { post('fail', msg); },
    log: function (msg) { post('log', msg); },
    sim: function (line) { return ask('sim', String(line)); },
  });
})();
