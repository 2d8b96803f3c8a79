// @ts-check
// TV guide: what is on, what comes next, and what the TV says about itself.
// Uses the TV object of <embed type="application/tv"> (types/tv.d.ts) as a
// real app does: every call is logged to the console ("TV.Name(args) -> result"),
// so the console is a transcript of the conversation with the TV.
'use strict';

(function () {
  /** @type {TvElement} */
  const tv = /** @type {any} */ (document.getElementById('tv'));

  // ---- Names of the TV's codes --------------------------------------------------
  // Most codes (country, language, panel, ...) are the TV maker's numbers and
  // are shown as numbers; these few have names in the simulated TV.
  /** @type {Object<string, Object<number, string>>} */
  const NAMES = {
    dst: { 0: 'off', 1: 'on', 2: 'auto' },
    power: { 0: 'standby', 1: 'on', 2: 'picture off' },
  };
  const POWER_ON = 1;

  /** @param {string} table @param {number} code */
  function nameOf(table, code) {
    const n = NAMES[table] && NAMES[table][code];
    return n ? n : String(code);
  }

  /**
   * Event kinds of the simulated TV: [kind, name]. Its events carry the kind
   * as param1 and the new value as param2.
   * @type {[number, string][]}
   */
  const EVENT_KINDS = [
    [1, 'Power'], [2, 'Country'], [3, 'Menu language'], [4, 'Time zone'], [5, 'Time zone offset'],
    [6, 'Daylight saving'], [7, 'Picture-in-picture'], [8, 'Next programme'], [9, 'Channel'],
    [10, 'Internet TV'], [11, 'Jorvel service'],
  ];
  const KIND_CHANNEL = 9, KIND_PROGRAMME = 8;

  /** @param {string} table @param {number} code */
  function nameOf(table, code) {
    const n = NAMES[table][code];
    return n ? n : '#' + code;
  }

  // ---- Transcript ----------------------------------------------------------
  let quiet = false;
  /** @param {unknown} v */
  function show(v) {
    return typeof v === 'string' ? JSON.stringify(v) : String(v);
  }
  /**
   * Logs one call and hands its result on.
   * @template T
   * @param {string} name @param {unknown[]} args @param {T} result
   * @returns {T}
   */
  function said(name, args, result) {
    if (!quiet) console.log('TV.' + name + '(' + args.map(show).join(', ') + ') -> ' + show(result));
    return result;
  }

  // ---- Helpers ---------------------------------------------------------------
  /** @param {string} id */
  function $(id) {
    const e = document.getElementById(id);
    if (!e) throw new Error('missing element #' + id);
    return e;
  }
  /** @param {string} tag @param {string} cls @param {string} text */
  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text) e.textContent = text;
    return e;
  }
  /** @param {number} n */
  function two(n) {
    return (n < 10 ? '0' : '') + n;
  }
  const DAYS = ['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'];
  const MONTHS = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August',
    'September', 'October', 'November', 'December'];

  /**
   * The TV's local time of an epoch, split up. The TV answers
   * "YYYY-MM-DD HH:MM:SS"; anything else is shown as it came.
   * @param {number} epoch
   */
  function localTime(epoch) {
    const text = said('ConvertEpochToLocalTime', [epoch], tv.ConvertEpochToLocalTime(epoch));
    const m = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})$/.exec(text);
    if (!m) return { hm: text || '--:--', date: '', text: text };
    const y = Number(m[1]), mo = Number(m[2]), d = Number(m[3]);
    const wd = new Date(Date.UTC(y, mo - 1, d)).getUTCDay();
    return { hm: m[4] + ':' + m[5], date: DAYS[wd] + ' ' + d + ' ' + MONTHS[mo - 1] + ' ' + y, text: text };
  }

  /** @param {number} seconds */
  function duration(seconds) {
    const min = Math.round(seconds / 60);
    return min >= 60 ? Math.floor(min / 60) + ' h ' + two(min % 60) : min + ' min';
  }

  /** @param {number} minutes */
  function utcOffset(minutes) {
    const sign = minutes < 0 ? '−' : '+';
    const a = Math.abs(minutes);
    return 'UTC' + sign + two(Math.floor(a / 60)) + ':' + two(a % 60);
  }

  function now() {
    return Math.floor(Date.now() / 1000);
  }

  /** Whether the page has a TV object at all. */
  // On the TV the TV object answers 1 when called as a function. In a desktop
  // browser (tv-bridge.js, served by tools/run-bridge.sh) an element cannot be
  // called; the bridge's attach answers the same.
  function hasTv() {
    const bridge = /** @type {{ TVBridge?: { attach(e: Element): number } }} */ (/** @type {unknown} */ (window)).TVBridge;
    try {
      if (bridge) return bridge.attach(tv) === 1;
      // In the TV's browser the element itself answers a call; where an
      // element cannot be called (WebKitGTK, WPE) its methods tell.
      if (typeof tv === 'function') return tv() === 1;
      return typeof (/** @type {{ GetCountry?: unknown }} */ (/** @type {unknown} */ (tv))).GetCountry === 'function';
    } catch (e) {
      return false;
    }
  }

  const VISIBLE_ROWS = 7;

  // ---- State -------------------------------------------------------------------
  /** @type {number[]} */
  let channels = [];
  let channel = 0;
  let scroll = 0;
  /** @type {{start: number, end: number, title: string}} */
  let onAir = { start: 0, end: 0, title: '' };
  let eventCount = 0;

  // ---- Header: clock and place -----------------------------------------------
  function renderClock() {
    const t = localTime(now());
    $('clock-time').textContent = t.hm;
    $('clock-date').textContent = t.date;
  }

  function renderPlace() {
    const country = said('GetCountry', [], tv.GetCountry());
    const language = said('GetLanguage', [], tv.GetLanguage());
    const zone = said('GetTimeZone', [], tv.GetTimeZone());
    const offset = said('GetTimeZone_Offset', [], tv.GetTimeZone_Offset());
    const dst = said('GetDST', [], tv.GetDST());
    const streamDst = said('FlagStreamDST', [], tv.FlagStreamDST());
    const autoClock = said('FlagAutoClock', [], tv.FlagAutoClock());
    const timeSet = said('IsTimeSet', [], tv.IsTimeSet());
    $('place').textContent = 'Country ' + country + '  ·  Language ' + language +
      '  ·  ' + utcOffset(offset) + ' (zone ' + zone + ')  ·  DST ' + nameOf('dst', dst) +
      (dst === 2 ? (streamDst ? ' (on)' : ' (off)') : '') +
      '  ·  ' + (timeSet ? (autoClock ? 'Auto clock' : 'Manual clock') : 'Clock not set');
  }

  // ---- On air ----------------------------------------------------------------------
  function readOnAir() {
    onAir = {
      start: Number(said('GetPresentProgram_StartTime', [], tv.GetPresentProgram_StartTime())),
      end: Number(said('GetPresentProgram_EndTime', [], tv.GetPresentProgram_EndTime())),
      title: said('GetPresentProgram_Title', [], tv.GetPresentProgram_Title()),
    };
    const secs = said('GetPresentProgram_Duration', [], tv.GetPresentProgram_Duration());
    if (!onAir.end && onAir.start && secs) onAir.end = onAir.start + secs;
    $('onair-title').textContent = onAir.title || 'No programme information';
    $('onair-start').textContent = onAir.start ? localTime(onAir.start).hm : '--:--';
    $('onair-end').textContent = onAir.end ? localTime(onAir.end).hm : '--:--';
  }

  function renderProgress() {
    const t = now();
    const span = onAir.end - onAir.start;
    const f = span > 0 ? Math.max(0, Math.min(1, (t - onAir.start) / span)) : 0;
    $('onair-progress').style.width = (f * 100).toFixed(1) + '%';
    $('onair-remaining').textContent = span > 0 && t < onAir.end ? duration(onAir.end - t) + ' left' : '';
  }

  function renderPower() {
    const p = said('GetPowerState', [], tv.GetPowerState());
    const e = $('power');
    e.textContent = 'Power: ' + nameOf('power', p);
    e.className = 'power' + (p === POWER_ON ? '' : ' off');
  }

  // ---- Programme list ------------------------------------------------------------------
  function findChannels() {
    channels = [];
    for (let c = 0; c < 12; c++) {
      if (said('GetProgramList', [c, 0], tv.GetProgramList(c, 0)) !== 1) break;
      channels.push(c);
    }
  }

  function renderChannels() {
    const box = $('channels');
    box.textContent = '';
    channels.forEach(function (c) {
      box.appendChild(el('span', c === channel ? 'current' : '', 'Ch ' + (c + 1)));
    });
  }

  function renderList() {
    renderChannels();
    const list = $('programmes');
    list.textContent = '';
    if (said('GetProgramList', [channel, 0], tv.GetProgramList(channel, 0)) !== 1) {
      list.appendChild(el('li', 'empty', 'The TV has no programme list for this channel.'));
      return;
    }
    const size = said('GetProgramList_Size', [], tv.GetProgramList_Size());
    const t = now();
    /** @type {HTMLElement[]} */
    const rows = [];
    let current = -1;
    for (let i = 0; i < size; i++) {
      const start = Number(said('GetProgram_StartTime', [i], tv.GetProgram_StartTime(i)));
      const end = Number(said('GetProgram_EndTime', [i], tv.GetProgram_EndTime(i)));
      const secs = said('GetProgram_Duration', [i], tv.GetProgram_Duration(i));
      const title = said('GetProgram_Title', [i], tv.GetProgram_Title(i));
      const li = el('li', end <= t ? 'past' : start <= t ? 'now' : '', '');
      if (start <= t && t < end) current = i;
      li.appendChild(el('span', 't', start ? localTime(start).hm : '--:--'));
      li.appendChild(el('span', 'n', title || '(no title)'));
      li.appendChild(el('span', 'd', duration(secs)));
      rows.push(li);
    }
    if (!rows.length) list.appendChild(el('li', 'empty', 'Nothing scheduled.'));
    // The programme on air second from the top, the list filled to the end.
    const first = Math.max(0, Math.min(rows.length - VISIBLE_ROWS, (current > 0 ? current - 1 : 0) + scroll));
    scroll = first - (current > 0 ? current - 1 : 0);
    for (let i = first; i < rows.length && i < first + VISIBLE_ROWS; i++) list.appendChild(rows[i]);
  }

  // ---- This TV ---------------------------------------------------------------------
  function renderFacts() {
    /** @type {[string, string][]} */
    const facts = [
      ['Product code', said('GetProductCode', [1], tv.GetProductCode(1)) || '—'],
      ['Model', said('GetProductCode', [0], tv.GetProductCode(0)) || '—'],
      ['Product', 'type ' + (said('GetProductType', [], tv.GetProductType()))],
      ['Disc player', 'type ' + (said('GetBDProductType', [], tv.GetBDProductType()))],
      ['Panel', 'type ' + (said('GetDisplayPanelType', [], tv.GetDisplayPanelType()))],
      ['Region', 'code ' + (said('GetTargetLocation', [], tv.GetTargetLocation()))],
      ['Languages', 'set ' + (said('GetLanguageSet', [], tv.GetLanguageSet()))],
      ['Plug-in', said('GetPluginInfo', [0], tv.GetPluginInfo(0)) || '—'],
    ];
    const dl = $('facts');
    dl.textContent = '';
    facts.forEach(function (f) {
      const row = el('div', '', '');
      row.appendChild(el('dt', '', f[0]));
      row.appendChild(el('dd', '', f[1]));
      dl.appendChild(row);
    });
  }

  function renderBadges() {
    /** @type {[string, number][]} */
    const services = [
      ['Guide', said('IsGuideAvailable', [], tv.IsGuideAvailable())],
      ['EPG', said('IsEPGAvailable', [], tv.IsEPGAvailable())],
      ['Schedule', said('IsScheduleAvailable', [], tv.IsScheduleAvailable())],
      ['Schedule manager', said('IsScheduleManagerAvailable', [], tv.IsScheduleManagerAvailable())],
      ['Channel browser', said('IsChannelBrowserAvailable', [], tv.IsChannelBrowserAvailable())],
      ['Widgets', said('IsYahooAvailable', [], tv.IsYahooAvailable())],
      ['Categories', said('FlagEnableChannelCategory', [], tv.FlagEnableChannelCategory())],
      ['Recording', said('SupportPVR', [], tv.SupportPVR())],
      ['PIP', said('GetPIP', [], tv.GetPIP())],
      ['Hotel mode', said('IsHotelProduct', [], tv.IsHotelProduct())],
    ];
    const box = $('badges');
    box.textContent = '';
    services.forEach(function (s) {
      box.appendChild(el('span', s[1] ? 'on' : 'off', s[0]));
    });
  }

  // ---- Password ----------------------------------------------------------------------
  function setUpPin() {
    const form = $('pin-form');
    const input = /** @type {HTMLInputElement} */ ($('pin'));
    form.addEventListener('submit', function (ev) {
      ev.preventDefault();
      const ok = said('IsValidPassword', ['*'.repeat(input.value.length)], tv.IsValidPassword(input.value));
      const r = $('pin-result');
      r.textContent = ok === 1 ? 'PIN accepted' : 'Wrong PIN, try again';
      r.className = 'pin-result ' + (ok === 1 ? 'ok' : 'bad');
      input.value = '';
    });
  }

  // ---- Events ------------------------------------------------------------------------
  /** @param {string} param1 @param {string} param2 */
  function describeEvent(param1, param2) {
    const kind = param1 === '' ? NaN : Number(param1);
    for (let i = 0; i < EVENT_KINDS.length; i++)
      if (EVENT_KINDS[i][0] === kind) return EVENT_KINDS[i][1] + (param2 !== '' ? ' → ' + param2 : '');
    return param1 || 'Event';
  }

  /** @param {string} param1 @param {string} param2 */
  function onTvEvent(param1, param2) {
    eventCount++;
    console.log('EVENT ' + JSON.stringify(param1) + ' ' + JSON.stringify(param2));
    const log = $('event-log');
    const empty = log.querySelector('.empty');
    if (empty) log.removeChild(empty);
    const old = log.querySelector('.fresh');
    if (old) old.className = '';
    const li = el('li', 'fresh', '');
    li.appendChild(el('span', 'when', localTime(now()).hm));
    li.appendChild(el('span', 'what', describeEvent(param1, param2)));
    li.appendChild(el('span', 'detail', 'param1 ' + show(param1) + '  ·  param2 ' + show(param2)));
    log.insertBefore(li, log.firstChild);
    while (log.children.length > 40) log.removeChild(/** @type {Node} */ (log.lastChild));
    $('event-count').textContent = String(eventCount);
    // Whatever changed, read it again from the TV.
    const kind = param1 === '' ? NaN : Number(param1);
    if (kind === KIND_CHANNEL && channels.indexOf(Number(param2)) >= 0) {
      channel = Number(param2);
      scroll = 0;
    }
    if (kind === KIND_CHANNEL || kind === KIND_PROGRAMME) renderList();
    renderPlace();
    renderPower();
    readOnAir();
    renderProgress();
    renderBadges();
  }

  function subscribe() {
    tv.OnEvent = onTvEvent;
    EVENT_KINDS.forEach(function (k) {
      said('SetEvent', [k[0]], tv.SetEvent(k[0]));
    });
    const log = $('event-log');
    log.appendChild(el('li', 'empty', 'Waiting for the TV…'));
  }

  // ---- Remote control keys -------------------------------------------------------------
  function setUpKeys() {
    document.addEventListener('keydown', function (ev) {
      const target = /** @type {HTMLElement} */ (ev.target);
      if (target && target.tagName === 'INPUT') return;
      let changed = true;
      if (ev.keyCode === 37 && channels.length) { channel = (channel + channels.length - 1) % channels.length; scroll = 0; }
      else if (ev.keyCode === 39 && channels.length) { channel = (channel + 1) % channels.length; scroll = 0; }
      else if (ev.keyCode === 38) scroll--;
      else if (ev.keyCode === 40) scroll++;
      else changed = false;
      if (changed) {
        ev.preventDefault();
        renderList();
      }
    });
  }

  // ---- Start ---------------------------------------------------------------------------------
  function start() {
    if (!hasTv()) {
      $('onair-title').textContent = 'The TV plug-in is not available';
      console.log('demo: no TV object (is libnptv.so on the plug-in path?)');
      return;
    }
    console.log('demo: plug-in ' + said('GetPluginInfo', [0], tv.GetPluginInfo(0)));
    renderClock();
    renderPlace();
    renderPower();
    readOnAir();
    renderProgress();
    findChannels();
    renderList();
    renderBadges();
    renderFacts();
    setUpPin();
    setUpKeys();
    subscribe();
    console.log('demo: ready');
    // Periodic refresh without flooding the transcript.
    setInterval(function () {
      quiet = true;
      try {
        renderClock();
        if (onAir.end && now() >= onAir.end) {
          readOnAir();
          renderList();
        }
        renderProgress();
      } finally {
        quiet = false;
      }
    }, 1000);
  }

  window.addEventListener('load', start);
})();
