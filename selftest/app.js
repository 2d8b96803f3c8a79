// The TV self-test: calls every method of the TV object, times them, asks
// the tester to cause TV events, shows the result and sends it as JSON to a
// collector (?report=URL). Remote-control keys only: arrows, OK, Back.
// Options in the address: ?count=N (calls per method for the timing, 20),
// slow=MS (a median above it is a warning, 500), wait=S (seconds per event
// step, 30), write=1 (also call the setters that have no getter), report=URL,
// name=TEXT (the TV's name in the report).
(function () {
  'use strict';

  var KEY = { 37: 'left', 38: 'up', 39: 'right', 40: 'down', 13: 'ok', 8: 'back', 27: 'back', 461: 'back', 10009: 'back' };
  var STEPS = [
    { id: 'channel', prompt: 'Change the channel with the remote control', kinds: ['9'] },
    { id: 'pip', prompt: 'Switch picture-in-picture on or off', kinds: ['7'] },
    { id: 'language', prompt: 'Change the menu language in the TV menu', kinds: ['3'] },
  ];
  var EVENT_KINDS = ['3', '7', '8', '9'];
  var PAGES = ['Methods', 'Slowest', 'Events', 'Report'];

  function $(id) { return document.getElementById(id); }
  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function param(name, dflt) {
    var m = new RegExp('[?&]' + name + '=([^&#]*)').exec(location.search);
    return m ? decodeURIComponent(m[1].replace(/\+/g, ' ')) : dflt;
  }
  function num(name, dflt, lo, hi) {
    var v = Number(param(name, dflt));
    return isFinite(v) ? Math.min(hi, Math.max(lo, v)) : dflt;
  }
  var opts = {
    count: Math.floor(num('count', 20, 1, 1000)), slow: num('slow', 500, 1, 60000), wait: num('wait', 30, 1, 600),
    write: param('write', '') === '1', report: param('report', ''), name: param('name', '').slice(0, 200),
  };
  var now = window.performance && performance.now ? function () { return performance.now(); } : Date.now;
  function log(text) { if (window.console) console.log('selftest: ' + text); }
  function show(answer) {
    // Texts as written in script; characters that did not decode shown as escapes.
    if (typeof answer === 'string') return JSON.stringify(answer).replace(/[\uD800-\uDBFF][\uDC00-\uDFFF]|[\uD800-\uDFFF\uFFFD\u007F-\u009F]/g, function (c) {
      return c.length === 2 ? c : '\\u' + ('000' + c.charCodeAt(0).toString(16)).slice(-4);
    });
    return String(answer);
  }

  var tv = $('tv'), tv2 = $('tv2');
  var state = { screen: 'start', page: 0, row: 0, detail: false };
  var results = [], events = [], report = null;

  function setScreen(name) {
    state.screen = name;
    document.body.setAttribute('data-screen', name);
    ['start', 'run', 'event', 'results'].forEach(function (s) { $('screen-' + s).style.display = s === name ? 'block' : 'none'; });
    log('screen ' + name);
  }
  function setVerdict(v, text) {
    var b = $('verdict');
    b.className = 'verdict ' + v;
    b.textContent = text || v.toUpperCase();
  }

  function hasTv(obj) {
    try { return !!obj && typeof obj.GetCountry !== 'undefined' && typeof obj.GetPluginInfo !== 'undefined'; } catch (e) { return false; }
  }

  // ---- Methods ----------------------------------------------------------------
  function call(obj, m, args) {
    try {
      return { answer: obj[m.name].apply(obj, args) };
    } catch (e) {
      return { error: String(e && e.message || e) };
    }
  }

  function runMethods(done) {
    var cache = {};
    var read = function (name) {
      if (!(name in cache)) cache[name] = call(tv, SelfTest.byName[name], []).answer;
      return cache[name];
    };
    var i = 0;
    function next() {
      if (i >= TV_API.length) return done();
      var m = TV_API[i++];
      $('run-fill').style.width = Math.round(100 * i / TV_API.length) + '%';
      $('run-what').textContent = m.name + '  (' + i + ' of ' + TV_API.length + ')';
      var r = { name: m.name, group: m.group, returns: m.returns, fallback: m.fallback };
      var p = SelfTest.plan(m, read, opts);
      if (p.skip) {
        r.verdict = 'skip';
        r.why = p.skip;
      } else {
        (p.before || []).forEach(function (b) { call(tv, SelfTest.byName[b], b === 'GetProgramList' ? [0, 0] : []); });
        r.args = p.args;
        r.kind = SelfTest.judgeName(p.judge);
        var first = call(tv, m, p.args);
        if ('error' in first) {
          r.verdict = 'fail';
          r.why = 'the call threw: ' + first.error;
        } else {
          r.answer = first.answer;
          var v = SelfTest.check(m, p, first.answer);
          r.verdict = v.verdict;
          r.why = v.why;
          // Each call timed alone (median, p99), and all together: the mean
          // stays exact where the browser's timer counts whole milliseconds.
          var times = [], all = now();
          for (var k = 0; k < opts.count; k++) {
            var t0 = now();
            call(tv, m, p.args);
            times.push(now() - t0);
          }
          all = now() - all;
          var s = SelfTest.stats(times);
          r.median_ms = Math.round(s.median * 100) / 100;
          r.p99_ms = Math.round(s.p99 * 100) / 100;
          r.mean_ms = Math.round(all / opts.count * 1000) / 1000;
          if (r.verdict === 'pass' && s.median > opts.slow) {
            r.verdict = 'warn';
            r.why = 'slow: median ' + r.median_ms + ' ms (above ' + opts.slow + ' ms)';
          }
        }
        if (m.name === 'GetProgramList_Size' || m.name === 'GetProgramList') call(tv, SelfTest.byName.GetProgramList, [0, 0]);
      }
      results.push(r);
      log(r.verdict + ' ' + m.name + ' ' + (r.answer === undefined ? '' : show(r.answer)) + (r.why ? ' (' + r.why + ')' : ''));
      setTimeout(next, 0); // let the screen update between methods
    }
    next();
  }

  // ---- Events -------------------------------------------------------------------
  function meaning(kind) {
    for (var i = 0; i < TV_EVENTS.length; i++) if (TV_EVENTS[i].kind === kind) return TV_EVENTS[i];
    return null;
  }
  function arrived(handler, p1, p2) {
    var e = { handler: handler, param1: String(p1), param2: String(p2), step: state.step ? state.step.id : '' };
    var bad = SelfTest.badText(e.param1 + e.param2);
    if (bad) e.problem = 'a text ' + bad;
    events.push(e);
    log('event ' + handler + ' ' + show(e.param1) + ' ' + show(e.param2));
    if (state.screen === 'event') renderEventList();
  }
  window.selftestNamedHandler = function (p1, p2) { arrived('name', p1, p2); };

  function describe(e) {
    var k = meaning(e.param1);
    return (e.handler === 'name' ? 'by name   ' : 'function   ') + show(e.param1) + ' ' + show(e.param2) +
      (k ? '   ' + k.value + ' = ' + e.param2 : '   (a kind the reference does not list)') + (e.problem ? '   ✗ ' + e.problem : '');
  }
  function renderEventList() {
    var list = $('event-list');
    list.innerHTML = '';
    events.filter(function (e) { return e.step === state.step.id; }).slice(-6).forEach(function (e) {
      list.appendChild(el('li', e.problem ? 'bad' : '', describe(e)));
    });
  }

  var eventResults = [];
  function runEvents(done) {
    tv.OnEvent = function (p1, p2) { arrived('function', p1, p2); };
    tv2.OnEvent = 'selftestNamedHandler';
    EVENT_KINDS.forEach(function (k) { tv.SetEvent(Number(k)); tv2.SetEvent(Number(k)); });
    var i = 0;
    function step() {
      if (i >= STEPS.length) {
        EVENT_KINDS.forEach(function (k) { tv.UnsetEvent(Number(k)); tv2.UnsetEvent(Number(k)); });
        state.step = null;
        return done();
      }
      var s = state.step = STEPS[i++];
      document.body.setAttribute('data-step', s.id);
      $('event-prompt').textContent = s.prompt;
      $('event-wants').textContent = 'Waiting for event ' + s.kinds.map(function (k) {
        var m = meaning(k);
        return k + (m ? ': ' + m.when : '');
      }).join(', ') + ', on a function handler and on a handler given by name';
      setScreen('event');
      renderEventList();
      var end = Date.now() + opts.wait * 1000;
      function got(h) {
        return events.some(function (e) { return e.step === s.id && e.handler === h && s.kinds.indexOf(e.param1) >= 0; });
      }
      function finish() {
        clearInterval(timer);
        state.okPressed = null;
        var f = got('function'), n = got('name');
        var bad = events.filter(function (e) { return e.step === s.id && e.problem; });
        var r = { name: 'event: ' + s.id, kinds: s.kinds };
        if (f && n) r.verdict = bad.length ? 'warn' : 'pass';
        else r.verdict = 'fail';
        r.why = !f && !n ? 'no event of kind ' + s.kinds.join('/') + ' arrived within ' + opts.wait + ' s' :
          !f ? 'the function handler got nothing' : !n ? 'the handler given by name got nothing' :
          bad.length ? bad[0].problem : '';
        r.events = events.filter(function (e) { return e.step === s.id; });
        eventResults.push(r);
        log(r.verdict + ' ' + r.name + (r.why ? ' (' + r.why + ')' : ''));
        step();
      }
      var timer = setInterval(function () {
        var left = Math.max(0, Math.ceil((end - Date.now()) / 1000));
        $('event-countdown').textContent = left + ' s left';
        if (got('function') && got('name')) {
          $('event-countdown').textContent = 'Arrived. Press OK to go on (' + left + ' s)';
          document.body.setAttribute('data-arrived', s.id);
        }
        if (left <= 0) finish();
      }, 250);
      state.okPressed = finish;
    }
    step();
  }

  // ---- Report -------------------------------------------------------------------
  function buildReport(started, found) {
    var all = results.concat(eventResults);
    var whole = found ? SelfTest.whole(results) : SelfTest.verdict('fail', 'no TV object on the page (is the plug-in installed?)');
    var checks = [{ name: 'TV object', verdict: whole.verdict, why: whole.why }].concat(all);
    var counts = { pass: 0, warn: 0, fail: 0, skip: 0 };
    checks.forEach(function (c) { counts[c.verdict]++; });
    var slowest = results.filter(function (r) { return r.median_ms !== undefined; })
      .sort(function (a, b) { return b.median_ms - a.median_ms || b.mean_ms - a.mean_ms; }).slice(0, 8)
      .map(function (r) { return { name: r.name, median_ms: r.median_ms, p99_ms: r.p99_ms, mean_ms: r.mean_ms }; });
    var product = results.filter(function (r) { return r.name === 'GetProductCode'; })[0];
    return {
      format: 'nptv-selftest-1',
      tv: { name: opts.name || (product && typeof product.answer === 'string' ? product.answer : ''), userAgent: navigator.userAgent, page: location.href.split('?')[0] },
      started: started, finished: new Date().toISOString(),
      options: { count: opts.count, slow_ms: opts.slow, wait_s: opts.wait, write: opts.write },
      verdict: counts.fail ? 'fail' : counts.warn ? 'warn' : 'pass',
      counts: counts, checks: checks, slowest: slowest,
    };
  }

  function send(r) {
    if (!opts.report) return;
    var status = $('report-status');
    try {
      var x = new XMLHttpRequest();
      x.open('POST', opts.report, true);
      x.setRequestHeader('Content-Type', 'text/plain'); // a simple request: no preflight
      x.onreadystatechange = function () {
        if (x.readyState !== 4) return;
        report.delivered = x.status === 200;
        status.textContent = report.delivered ? 'Report sent to ' + opts.report : 'Report NOT delivered to ' + opts.report + ' (status ' + x.status + ')';
        document.body.setAttribute('data-report', report.delivered ? 'sent' : 'failed');
        log('report ' + (report.delivered ? 'sent' : 'failed ' + x.status));
      };
      x.send(JSON.stringify(r));
    } catch (e) {
      status.textContent = 'Report NOT delivered: ' + e.message;
      document.body.setAttribute('data-report', 'failed');
    }
  }

  // ---- Result screen ---------------------------------------------------------
  function rowsOf(page) {
    if (page === 0) { // problems first: fail, warn, pass, not run (each in method order)
      var order = { fail: 0, warn: 1, pass: 2, skip: 3 };
      return report.checks.filter(function (c) { return !/^event: /.test(c.name); })
        .map(function (c, i) { return [c, i]; })
        .sort(function (a, b) { return order[a[0].verdict] - order[b[0].verdict] || a[1] - b[1]; })
        .map(function (x) { return x[0]; });
    }
    if (page === 1) return report.slowest.map(function (s) {
      return { name: s.name, verdict: 'time', answer: s.median_ms + ' ms median, ' + s.p99_ms + ' ms p99, ' + s.mean_ms + ' ms mean' };
    });
    if (page === 2) return eventResults;
    return [];
  }
  function renderResults() {
    var c = report.counts;
    $('summary').textContent = c.pass + ' pass   ' + c.warn + ' warn   ' + c.fail + ' fail' + (c.skip ? '   ' + c.skip + ' not run' : '');
    var tabs = $('tabs');
    tabs.innerHTML = '';
    PAGES.forEach(function (p, i) { tabs.appendChild(el('span', i === state.page ? 'tab on' : 'tab', p)); });
    var list = $('rows');
    list.innerHTML = '';
    var detail = $('detail');
    if (state.page === 3) {
      detail.style.display = 'block';
      detail.innerHTML = '';
      detail.appendChild(el('div', '', opts.report ? '' : 'No ?report=URL given: the report stays on this page.'));
      detail.appendChild(el('pre', 'json', JSON.stringify(report, null, 1).slice(0, 4000)));
      return;
    }
    var rows = rowsOf(state.page);
    state.row = Math.max(0, Math.min(state.row, rows.length - 1));
    var first = Math.max(0, Math.min(state.row - 5, rows.length - 11));
    rows.slice(first, first + 11).forEach(function (r, k) {
      var li = el('li', (first + k === state.row ? 'sel ' : '') + r.verdict);
      li.appendChild(el('span', 'v', r.verdict === 'skip' ? 'NOT RUN' : r.verdict.toUpperCase()));
      li.appendChild(el('span', 'n', r.name));
      var answer = r.answer !== undefined ? show(r.answer) : '';
      li.appendChild(el('span', 'a', r.verdict === 'pass' || r.verdict === 'time' ? answer || r.why || '' :
        (answer ? answer + ': ' : '') + (r.why || '')));
      list.appendChild(li);
    });
    detail.style.display = state.detail && rows[state.row] ? 'block' : 'none';
    if (state.detail && rows[state.row]) {
      var r = rows[state.row];
      detail.innerHTML = '';
      detail.appendChild(el('h2', '', r.name));
      [['Verdict', r.verdict], ['Why', r.why || '—'], ['Arguments', r.args ? show(JSON.stringify(r.args)) : '—'],
       ['Answer', r.answer !== undefined ? show(r.answer) : '—'],
       ['Time', r.median_ms !== undefined ? r.median_ms + ' ms median, ' + r.p99_ms + ' ms p99, ' + r.mean_ms + ' ms mean over ' + opts.count + ' calls' : '—']]
        .forEach(function (f) { detail.appendChild(el('p', '', f[0] + ':  ' + f[1])); });
      (r.events || []).forEach(function (e) { detail.appendChild(el('p', 'ev', describe(e))); });
    }
  }

  // ---- Keys -----------------------------------------------------------------------
  function onKey(ev) {
    var k = KEY[ev.keyCode];
    if (!k) return;
    ev.preventDefault();
    log('key ' + k);
    if (state.screen === 'start' && k === 'ok') return start();
    if (state.screen === 'event' && k === 'ok' && state.okPressed) return state.okPressed();
    if (state.screen !== 'results') return;
    if (k === 'left' || k === 'right') {
      state.page = (state.page + (k === 'left' ? PAGES.length - 1 : 1)) % PAGES.length;
      state.row = 0;
      state.detail = false;
    } else if (k === 'up' || k === 'down') {
      state.row += k === 'up' ? -1 : 1;
    } else if (k === 'ok') {
      state.detail = true;
    } else if (k === 'back') {
      state.detail = false;
    }
    document.body.setAttribute('data-page', PAGES[state.page]);
    document.body.setAttribute('data-detail', state.detail ? '1' : '0');
    renderResults();
  }

  function start() {
    var started = new Date().toISOString();
    var found = hasTv(tv) && hasTv(tv2);
    setVerdict('running', 'RUNNING');
    setScreen('run');
    function end() {
      report = buildReport(started, found);
      window.selftestReport = report;
      setVerdict(report.verdict);
      setScreen('results');
      renderResults();
      log('verdict ' + report.verdict + ' ' + JSON.stringify(report.counts));
      send(report);
    }
    if (!found) return end();
    runMethods(function () { runEvents(end); });
  }

  function fit() { // 1280x720 design, scaled to the screen (1920x1080 and others)
    var s = Math.min(window.innerWidth / 1280, window.innerHeight / 720) || 1;
    $('stage').style.transform = 'scale(' + s + ')';
  }

  window.addEventListener('load', function () {
    $('method-count').textContent = String(TV_API.length);
    $('write-note').textContent = opts.write ? ', except the settings that cannot be read back (opened with ?write=1)' : '';
    $('params').textContent = opts.count + ' calls per method for the timing; ' + opts.wait + ' s per event' +
      (opts.report ? '; report to ' + opts.report : '; no collector (?report=URL)');
    setScreen('start');
    fit();
    window.addEventListener('resize', fit);
    document.addEventListener('keydown', onKey);
  });
})();
