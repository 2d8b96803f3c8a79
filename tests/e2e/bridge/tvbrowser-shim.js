// What tvbrowser gives a page (window.tvbrowser), for the end-to-end pages
// run in Chromium through tvbridge: the verdict and log lines go to the
// console (bridge-test.mjs reads them), sim() goes to the simulated TV's
// control socket through the bridge's /bridge/sim (tvbridge --sim-control).
'use strict';
window.tvbrowser = {
  headless: true,
  pass: function (msg) { console.log('tvbrowser: PASS: ' + (msg === undefined ? '' : msg)); },
  fail: function (msg) { console.log('tvbrowser: FAIL: ' + (msg === undefined ? '' : msg)); },
  log: function (msg) { console.log(String(msg)); },
  sim: function (line) {
    const x = new XMLHttpRequest();
    x.open('POST', '/bridge/sim', false);
    x.setRequestHeader('X-TV-Bridge', '1');
    x.send(String(line));
    if (x.status !== 200) return JSON.stringify({ ok: false, error: x.responseText.trim() });
    return x.responseText;
  },
};
