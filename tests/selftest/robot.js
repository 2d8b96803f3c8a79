// The tester for the WebKit hosts, added to a copy of the self-test page: it
// presses the remote's keys (keydown), causes the TV events the page asks for
// (tvbrowser.sim, or "driver:" lines in cog), and after the report compares
// the simulated TV's state with the one before the run.
(function () {
  'use strict';
  // (Without the plug-in there is no simulated TV to ask: null.)
  var sim = window.tvbrowser && tvbrowser.sim ? function (o) {
    try { return JSON.parse(tvbrowser.sim(JSON.stringify(o))); } catch (e) { return { state: null }; }
  } : null;
  function drive(o) { if (sim) return sim(o); console.log('driver: ' + JSON.stringify(o)); return null; }
  function verdict(ok, msg) {
    console.log('robot: ' + msg);
    if (window.tvbrowser && tvbrowser.pass) return ok ? tvbrowser.pass(msg) : tvbrowser.fail(msg);
    console.log('tvbrowser: ' + (ok ? 'PASS' : 'FAIL') + ' ' + msg);
  }
  var KEYS = { ok: 13, back: 8, left: 37, up: 38, right: 39, down: 40 };
  function press(name) {
    var e = document.createEvent('Event');
    e.initEvent('keydown', true, true);
    Object.defineProperty(e, 'keyCode', { value: KEYS[name] });
    document.dispatchEvent(e);
  }
  // The simulated TV's state; `changes` (keys and values) as the run should leave it.
  function state(changes) {
    var s = sim ? sim({ cmd: 'state' }).state : null;
    if (!s) return null;
    delete s.runtime;
    for (var k in changes || {}) s[k] = changes[k];
    return JSON.stringify(s);
  }
  // Each TV event is caused and undone: the TV ends as it started.
  var CAUSE = { channel: ['current_channel', 1, 0], pip: ['pip', 1, 0], language: ['language', 8, 7] };
  var before = null, done = {}, plan = ['down', 'down', 'ok', 'back', 'right', 'right', 'ok', 'back', 'right', 'right'];
  var timer = setInterval(function () {
    var screen = document.body.getAttribute('data-screen');
    if (screen === 'start' && !done.start) {
      done.start = true;
      before = state(ROBOT.changes);
      (ROBOT.faults || []).forEach(drive);
      press('ok');
    } else if (screen === 'event') {
      var step = document.body.getAttribute('data-step');
      if (done[step]) {
        // OK once the page saw the step's events (else its time limit ends it).
        if (done[step] === 1 && document.body.getAttribute('data-arrived') === step) {
          done[step] = 2;
          press('ok');
        }
        return;
      }
      done[step] = 1;
      if (ROBOT.noEvents) return;
      var c = CAUSE[step];
      drive({ cmd: 'set', key: c[0], value: c[1] });
      drive({ cmd: 'set', key: c[0], value: c[2] });
    } else if (screen === 'results') {
      if (plan.length) return press(plan.shift());
      var r = document.body.getAttribute('data-report');
      if (!r) return;
      clearInterval(timer);
      drive({ cmd: 'clear_replies' });
      drive({ cmd: 'simulator', on: true });
      var after = state();
      if (r !== 'sent') return verdict(false, 'the report did not reach the collector');
      if (before !== after) return verdict(false, 'the TV state changed: before ' + before + ' after ' + after);
      verdict(true, 'driven to the end; report sent' + (before ? '; TV state unchanged' : ''));
    }
  }, 300);
})();
