// Prints what the TV guide demo shows (titles, times, product facts, the
// header) as one line "dom: {json}" and passes; run after the page loaded
// (--script), in tvbrowser and in tvwebkit, against the same simulated TV.
// The clock is left out: it shows the moment of the run.
'use strict';
(function () {
  function texts(selector) {
    return Array.prototype.map.call(document.querySelectorAll(selector), function (e) { return e.textContent; });
  }
  function text(id) {
    const e = document.getElementById(id);
    return e ? e.textContent : null;
  }
  const shown = {
    place: text('place'), power: text('power'),
    onair: [text('onair-title'), text('onair-start'), text('onair-end')],
    channels: texts('#channels span'),
    titles: texts('#programmes .n'), starts: texts('#programmes .t'), durations: texts('#programmes .d'),
    available: texts('#badges .on'), unavailable: texts('#badges .off'),
    facts: texts('#facts dd'),
  };
  console.log('dom: ' + JSON.stringify(shown));
  if (shown.facts.length && shown.titles.length) tvbrowser.pass('the guide is filled');
  else tvbrowser.fail('the guide shows no programmes or no facts');
})();
