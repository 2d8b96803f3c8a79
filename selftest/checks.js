// What the self-test asks each method and how it judges the answer.
// The methods, their result types and their fallback values come from
// tv-api.js (generated from types/tv-api.json); this file only knows the
// kinds of answer (times, titles, flags, the TV's numbers) and which getter
// a setter takes its value from, so that it writes back what it just read.
/* exported SelfTest */
var SelfTest = (function () {
  'use strict';

  var NOT_A_PASSWORD = '\u0001self-test: not the password';
  var LIST = [0, 0]; // GetProgramList: the first list, today

  function verdict(v, why) { return { verdict: v, why: why || '' }; }
  function isInt(a) { return typeof a === 'number' && a % 1 === 0 && a >= -2147483648 && a <= 2147483647; }

  // A text the module made from a UTF-16 or ASCII reply: no replacement
  // characters, no lone surrogates, no control characters.
  function badText(s) {
    if (/\uFFFD/.test(s)) return 'holds U+FFFD (a text that did not decode)';
    if (/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(^|[^\uD800-\uDBFF])[\uDC00-\uDFFF]/.test(s)) return 'holds a lone surrogate';
    if (/[\u0000-\u0008\u000B-\u001F\u007F]/.test(s)) return 'holds control characters';
    return '';
  }
  function utf8Length(s) { return unescape(encodeURIComponent(s.replace(/[\uD800-\uDFFF]/g, '?'))).length; }

  var judge = {
    decimal: function (a) {
      if (!/^-?[0-9]+$/.test(a)) return verdict('fail', 'not a decimal text');
      if (a === '0') return verdict('warn', 'nothing on air, the time not set, or an error answer');
      return verdict('pass');
    },
    seconds: function (a) {
      if (!isInt(a) || a < 0) return verdict('fail', 'not a count of seconds');
      if (a === 0) return verdict('warn', 'nothing on air or an error answer');
      return verdict('pass');
    },
    title: function (a) {
      var bad = badText(a);
      if (bad) return verdict('fail', 'the title ' + bad);
      if (utf8Length(a) > 511) return verdict('fail', 'longer than 511 bytes');
      if (a === '') return verdict('warn', 'no title: nothing on air or an error answer');
      return verdict('pass');
    },
    text: function (a) {
      var bad = badText(a);
      if (bad) return verdict('fail', 'the text ' + bad);
      if (a === '') return verdict('fail', 'no text: the TV answered an error or nothing');
      return verdict('pass');
    },
    localTime: function (a) {
      if (a === '') return verdict('fail', 'no text: the TV answered an error or nothing');
      if (!/[0-9]/.test(a) || badText(a)) return verdict('fail', 'not a time');
      return verdict('pass');
    },
    done: function (a) { // setters and requests: 1 done, 0 refused
      if (a === 1) return verdict('pass');
      if (a === 0) return verdict('fail', 'refused (or an error answer)');
      return verdict('fail', 'neither 1 nor 0');
    },
    flag: function (a, m) { // the TV's own answer, usually 1 or 0
      if (!isInt(a)) return verdict('fail', 'not an integer');
      if (m.name === 'IsTimeSet' && a === 0) return verdict('warn', "the TV's clock is not set, times are meaningless");
      if (a !== 0 && a !== 1) return verdict('warn', 'neither 1 nor 0 (allowed, but unusual)');
      return verdict('pass');
    },
    size: function (a) {
      if (!isInt(a) || a < 0) return verdict('fail', 'not a count');
      if (a === 0) return verdict('warn', 'the programme list is empty');
      return verdict('pass');
    },
    offset: function (a) {
      if (!isInt(a) || a < -1440 || a > 1440) return verdict('fail', 'not minutes within a day of UTC');
      return verdict('pass');
    },
    number: function (a, m) { // the TV's numbering: any integer; the fallback is suspicious
      if (!isInt(a)) return verdict('fail', 'not a 32-bit integer');
      if (a === m.fallback) return verdict('warn', 'also what the method gives when the TV answers an error or is unavailable');
      return verdict('pass');
    },
    password: function (a) {
      if (a === 0) return verdict('pass');
      if (a === 1) return verdict('fail', 'a wrong password was accepted (also the answer without a TV)');
      return verdict('fail', 'neither 1 nor 0');
    },
  };

  // How each method is called: its arguments (from what the getters read)
  // and its judge. `read(name)` gives a getter's answer (calling it once).
  function plan(m, read, opts) {
    var n = m.name;
    if (n === 'GetPluginInfo') return { args: [0], judge: judge.text };
    if (n === 'ConvertEpochToLocalTime') return { args: [Math.floor(Date.now() / 1000)], judge: judge.localTime };
    if (n === 'GetProgramList') return { args: LIST, judge: judge.done };
    if (n === 'GetProgramList_Size') return { before: ['GetProgramList'], args: [], judge: judge.size };
    if (/^GetProgram_/.test(n)) {
      if (read('GetProgramList_Size') < 1) return { skip: 'the programme list is empty' };
    }
    var arg = /^GetProgram_/.test(n) ? [0] : [];
    if (/_(StartTime|EndTime)$/.test(n)) return { args: arg, judge: judge.decimal };
    if (/_Duration$/.test(n)) return { args: arg, judge: judge.seconds };
    if (/_Title$/.test(n)) return { args: arg, judge: judge.title };
    if (n === 'GetProductCode') return { args: [1], judge: judge.text };
    if (n === 'IsValidPassword') return { args: [NOT_A_PASSWORD], judge: judge.password };
    if (n === 'SetEvent' || n === 'UnsetEvent') return { args: [9], judge: judge.done };
    if (n === 'SetWatchDog') return { args: [1], judge: judge.done };
    if (n === 'CheckPIP') return { args: [read('GetPIP')], judge: judge.flag };
    if (n === 'SetTimeZone') {
      if (read('GetTimeZone') === SelfTest.byName.GetTimeZone.onError) return { skip: 'GetTimeZone gave its error value: not written back' };
      return { args: [read('GetTimeZone'), read('GetTimeZone_Offset')], judge: judge.done };
    }
    if (/^Set/.test(n)) {
      var getter = 'Get' + n.slice(3);
      if (SelfTest.byName[getter]) {
        var v = read(getter);
        // A getter's error value written back could change the TV.
        var g = SelfTest.byName[getter];
        if (typeof v !== 'number' || (v === g.onError && g.onError === g.fallback)) return { skip: getter + ' gave its error value: not written back' };
        return { args: [v], judge: judge.done };
      }
      if (!opts.write) return { skip: 'no getter to read its state from: only called with ?write=1' };
      return { args: [0], judge: judge.done, writes: true };
    }
    if (n === 'GetTimeZone_Offset') return { args: [], judge: judge.offset };
    if (m.returns === 'number' && m.fallback === m.onError) return { args: [], judge: judge.number };
    if (m.returns === 'number') return { args: [], judge: judge.flag };
    return { args: [], judge: judge.text };
  }

  // One answer against the method's declared type, then its judge.
  function check(m, p, answer) {
    if (typeof answer !== m.returns) return verdict('fail', 'a ' + typeof answer + ' where a ' + m.returns + ' belongs');
    return p.judge(answer, m);
  }

  // Median and 99th percentile (nearest rank) of durations in ms.
  function stats(times) {
    var s = times.slice().sort(function (a, b) { return a - b; });
    var at = function (q) { return s[Math.min(s.length - 1, Math.max(0, Math.ceil(q * s.length) - 1))]; };
    return { median: s.length ? (s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2) : 0,
             p99: s.length ? at(0.99) : 0 };
  }

  // The TV as a whole: every getter of the TV's numbering answering its
  // fallback means no TV behind the object (the wrong password then passes)
  // or a TV that answers nothing but errors.
  function whole(results) {
    var getters = results.filter(function (r) { return r.kind === 'number'; });
    var same = getters.filter(function (r) { return r.answer === r.fallback; }).length;
    if (!getters.length || same < getters.length) return verdict('pass', 'the TV answers');
    var pw = results.filter(function (r) { return r.name === 'IsValidPassword'; })[0];
    if (pw && pw.answer === 1) return verdict('fail', 'TV unavailable: every method gave its fallback value (the TV object has no TV behind it)');
    return verdict('fail', 'TV unreachable: every command was answered with an error');
  }

  var byName = {};
  TV_API.forEach(function (m) { byName[m.name] = m; });
  var kindOf = {};
  Object.keys(judge).forEach(function (k) { kindOf[k] = judge[k]; });
  function judgeName(fn) { for (var k in kindOf) if (kindOf[k] === fn) return k; return ''; }

  return { plan: plan, check: check, stats: stats, whole: whole, byName: byName, badText: badText,
           judgeName: judgeName, verdict: verdict };
})();
