// For browsers without a tvbrowser object (cog): verdict and log lines go to
// the console, which the runner reads. There is no control socket (no
// tvbrowser.sim): pages say "driver: {json}" lines instead.
'use strict';
if (!window.tvbrowser) {
  window.tvbrowser = {
    headless: true,
    elementCallable: false,
    pass: function (msg) { console.log('tvbrowser: PASS: ' + (msg === undefined ? '' : msg)); },
    fail: function (msg) { console.log('tvbrowser: FAIL: ' + (msg === undefined ? '' : msg)); },
    log: function (msg) { console.log(String(msg)); },
  };
}
