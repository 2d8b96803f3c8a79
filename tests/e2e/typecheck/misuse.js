// @ts-check
// Uses of the TV object that the typings must reject: each line below an
// expect-error marker has to be an error, or tsc fails this file.
'use strict';

/** @param {TvElement} tv */
function uses(tv) {
  // @ts-expect-error a boolean is not a number for the TV: true would count as 0
  tv.SetPIP(true);
  // @ts-expect-error GetCountry takes no argument (the call would throw)
  tv.GetCountry(1);
  // @ts-expect-error SetTimeZone needs both the zone and the offset
  tv.SetTimeZone(3);
  // @ts-expect-error start times are decimal texts, not numbers
  const start = /** @type {number} */ (tv.GetPresentProgram_StartTime());
  // @ts-expect-error titles are strings
  const len = tv.GetPresentProgram_Title().toFixed();
  // @ts-expect-error the password is a text
  tv.IsValidPassword(1234);
  // @ts-expect-error OnEvent takes a function of two strings or a name
  tv.OnEvent = 5;
  // @ts-expect-error no such method
  tv.GetChannel();

  // And these are right:
  tv.SetPIP(1);
  tv.ConvertEpochToLocalTime('1700000000');
  tv.ConvertEpochToLocalTime(1700000000);
  tv.GetPluginInfo();
  tv.OnEvent = 'onTvEvent';
  tv.OnEvent = function (p1, p2) { return p1.length + p2.length; };
  const n = tv() + tv.GetProgramList_Size() + Number(start) + len.length;
  return n;
}
export { uses };
