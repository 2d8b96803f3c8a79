// Drives the TV guide demo as a viewer would, against config/known.json:
//   tvbrowser --script lib/harness.js --script demo-check.js demo/index.html
// The demo knows nothing of this: the checks read what it shows.
'use strict';

(function () {
  function text(id) {
    const e = document.getElementById(id);
    return e ? e.textContent : '(no #' + id + ')';
  }
  function texts(selector) {
    return Array.prototype.map.call(document.querySelectorAll(selector), function (e) { return e.textContent; });
  }
  // Resolves when the element's content has changed and `pred` holds.
  function whenShown(id, what, pred) {
    if (pred()) return Promise.resolve();
    console.log('… waiting for the guide to show ' + what);
    return new Promise(function (resolve) {
      const obs = new MutationObserver(function () {
        if (pred()) {
          obs.disconnect();
          resolve();
        }
      });
      obs.observe(document.getElementById(id), { childList: true, subtree: true, characterData: true });
    });
  }

  E2E.run(function () {
    // What the TV says, as the guide shows it. Its clock is the browser's in
    // the TV's local time (UTC+90 min), refreshed every second.
    function local(ms) {
      const d = new Date(ms + 90 * 60 * 1000);
      const two = function (n) { return (n < 10 ? '0' : '') + n; };
      return two(d.getUTCHours()) + ':' + two(d.getUTCMinutes());
    }
    const t = Date.now();
    const shown = text('clock-time');
    E2E.ok('clock shows the local time (' + local(t) + ')', shown === local(t) || shown === local(t - 2000),
           'shows ' + shown);
    E2E.ok('date has a weekday, day, month and year',
           /^(Sun|Mon|Tues|Wednes|Thurs|Fri|Satur)day \d{1,2} [A-Z][a-z]+ \d{4}$/.test(text('clock-date')),
           'shows ' + text('clock-date'));
    E2E.check('header', text('place'),
              'Country 44  ·  Language 7  ·  UTC+01:30 (zone 12)  ·  DST off  ·  Manual clock');
    E2E.check('on air: title', text('onair-title'), 'Grüße aus 東京 𝄞');
    E2E.check('on air: start', text('onair-start'), '13:00');
    E2E.check('on air: end', text('onair-end'), '13:45');
    E2E.check('power', text('power'), 'Power: picture off');
    E2E.equalLists('channels', texts('#channels span'), ['Ch 1', 'Ch 2']);
    E2E.equalLists('programme titles of channel 1', texts('#programmes .n'),
                   ['Night and Morning', 'Grüße aus 東京 𝄞', 'Quote "marks" & <tags>', 'Evening']);
    E2E.equalLists('programme start times', texts('#programmes .t'), ['00:00', '13:00', '13:45', '15:00']);
    E2E.equalLists('programme durations', texts('#programmes .d'), ['13 h 00', '45 min', '1 h 15', '9 h 00']);
    E2E.equalLists('services shown as available', texts('#badges .on'),
                   ['EPG', 'Schedule', 'Schedule manager', 'Widgets', 'Hotel mode']);
    E2E.equalLists('services shown as unavailable', texts('#badges .off'),
                   ['Guide', 'Channel browser', 'Categories', 'Recording', 'PIP']);
    E2E.equalLists('facts', texts('#facts dd'),
                   ['E2E-CODE-FULL-0001', 'E2E-CODE', 'type 6', 'type 2', 'type 4', 'code 9', 'set 5', 'TV-0017']);

    // The right arrow shows the next channel's list.
    const right = document.createEvent('Event');
    right.initEvent('keydown', true, true);
    right.keyCode = 39;
    document.dispatchEvent(right);
    E2E.equalLists('after the right arrow: channel 2', texts('#programmes .n'), ['Half Day A', 'Half Day B']);

    // The parental lock asks the TV.
    const pin = document.getElementById('pin');
    const form = document.getElementById('pin-form');
    [['4711', 'PIN accepted', 'pin-result ok'], ['0000', 'Wrong PIN, try again', 'pin-result bad'],
     ['', 'Wrong PIN, try again', 'pin-result bad']].forEach(function (c) {
      pin.value = c[0];
      const submit = document.createEvent('Event');
      submit.initEvent('submit', true, true);
      form.dispatchEvent(submit);
      E2E.check('PIN ' + JSON.stringify(c[0]), text('pin-result'), c[1]);
      E2E.check('PIN ' + JSON.stringify(c[0]) + ' style', document.getElementById('pin-result').className, c[2]);
      E2E.check('the PIN field is cleared', pin.value, '');
    });

    // Things happen on the TV: the guide's event log and header follow.
    E2E.check('no event yet', text('event-count'), '0');
    E2E.sim({ cmd: 'set', key: 'country', value: 45 });
    E2E.raise('Reminder "x"', 'Grüße');
    return whenShown('event-count', 'two events', function () { return text('event-count') === '2'; }).then(function () {
      E2E.equalLists('event log, newest first', texts('#event-log .what'), ['Reminder "x"', 'Country → 45']);
      E2E.check('the newest event\'s texts', document.querySelector('#event-log .detail').textContent,
                'param1 "Reminder \\"x\\""  ·  param2 "Grüße"');
      E2E.check('the header follows the new country', text('place').indexOf('Country 45  ·') === 0, true);
    });
  });
})();
