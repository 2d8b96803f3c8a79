// The TV object that <embed type="application/tv"> gives a page.
// Generated from types/tv-api.json by types/generate.mjs: edit those, not this.
//
// Every method call waits for the TV's answer on the page's own thread.
// When the page's TV object is not connected to a TV, each method returns a
// fixed fallback value (told per method below); a call with the wrong number
// of arguments throws.

/** A handler of TV events: called with the event's two texts. */
type TvEventHandler = (param1: string, param2: string) => void;

/** The scriptable TV object (the <embed> element itself). */
interface TV {
  /** Calling the object itself answers 1, whatever the arguments. */
  (...args: unknown[]): number;

  // ---- Plug-in

  /**
   * Information about the plug-in itself, answered without asking the TV: item 0 gives the plug-in's version text "TV-0017"; any other item, or none, gives the empty text. Extra arguments are ignored.
   *
   * @param item information item; 0 is the only one defined (number, optional)
   * @returns string. No TV connected: "". TV answered with an error: (answered by the plug-in itself).
   */
  GetPluginInfo(item?: number): string;

  // ---- Programme on air

  /**
   * Start of the programme on air, in seconds since 1970-01-01 UTC, as a decimal text (not a number: use Number() or parseInt).
   *
   * @returns string. No TV connected: "0". TV answered with an error: "0".
   */
  GetPresentProgram_StartTime(): string;

  /**
   * End of the programme on air, in seconds since 1970-01-01 UTC, as a decimal text.
   *
   * @returns string. No TV connected: "0". TV answered with an error: "0".
   */
  GetPresentProgram_EndTime(): string;

  /**
   * Duration of the programme on air, in seconds.
   *
   * @returns number. No TV connected: 0. TV answered with an error: 0.
   */
  GetPresentProgram_Duration(): number;

  /**
   * Title of the programme on air (any language; at most 511 bytes of UTF-8, a longer title is cut).
   *
   * @returns string. No TV connected: "". TV answered with an error: "".
   */
  GetPresentProgram_Title(): string;

  // ---- Programme list

  /**
   * Selects the programme list that GetProgramList_Size and the GetProgram_* methods then read. Returns 1 when the TV accepted the request, 0 when it refused it.
   *
   * @param list which list: the channel in the simulated TV (from 0) (number (truncated toward zero))
   * @param part second selector: the day in the simulated TV (0 today, 1 tomorrow, -1 yesterday; -7..7) (number (truncated toward zero))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  GetProgramList(list: number, part: number): number;

  /**
   * Number of programmes in the selected list.
   *
   * @returns number. No TV connected: 0. TV answered with an error: 0.
   */
  GetProgramList_Size(): number;

  /**
   * Start of the programme at `index`, in seconds since 1970-01-01 UTC, as a decimal text.
   *
   * @param index position in the selected list, from 0 (number (truncated toward zero))
   * @returns string. No TV connected: "0". TV answered with an error: "0".
   */
  GetProgram_StartTime(index: number): string;

  /**
   * End of the programme at `index`, in seconds since 1970-01-01 UTC, as a decimal text.
   *
   * @param index position in the selected list, from 0 (number (truncated toward zero))
   * @returns string. No TV connected: "0". TV answered with an error: "0".
   */
  GetProgram_EndTime(index: number): string;

  /**
   * Duration of the programme at `index`, in seconds.
   *
   * @param index position in the selected list, from 0 (number (truncated toward zero))
   * @returns number. No TV connected: 0. TV answered with an error: 0.
   */
  GetProgram_Duration(index: number): number;

  /**
   * Title of the programme at `index` (at most 511 bytes of UTF-8).
   *
   * @param index position in the selected list, from 0 (number (truncated toward zero))
   * @returns string. No TV connected: "". TV answered with an error: "".
   */
  GetProgram_Title(index: number): string;

  // ---- Clock, daylight-saving time, time zone

  /**
   * The TV's local time for `epoch` (the TV applies its time zone and daylight-saving time), as a text such as "2026-12-05 21:15:00"; the format is the TV's.
   *
   * @param epoch seconds since 1970-01-01 UTC, as a number or a decimal text (number or decimal text)
   * @returns string. No TV connected: "". TV answered with an error: "".
   */
  ConvertEpochToLocalTime(epoch: number | string): string;

  /**
   * 1 when the TV sets its clock from the broadcast, 0 when the clock is set by hand.
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  FlagAutoClock(): number;

  /**
   * 1 when the TV's clock has been set, 0 when it has not (then times are meaningless).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsTimeSet(): number;

  /**
   * 1 when the broadcast tells daylight-saving time, 0 otherwise.
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  FlagStreamDST(): number;

  /**
   * Daylight-saving time mode (the TV's numbering; the simulated TV: 0 off, 1 on, 2 automatic, following the broadcast).
   *
   * @returns number. No TV connected: 3. TV answered with an error: 3.
   */
  GetDST(): number;

  /**
   * Sets the daylight-saving time mode. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param mode daylight-saving time mode (number (truncated toward zero))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetDST(mode: number): number;

  /**
   * Time zone (the TV's numbering).
   *
   * @returns number. No TV connected: 209. TV answered with an error: 209.
   */
  GetTimeZone(): number;

  /**
   * Offset of the time zone from UTC, in minutes east of UTC in the simulated TV (daylight-saving time not included).
   *
   * @returns number. No TV connected: 0. TV answered with an error: 0.
   */
  GetTimeZone_Offset(): number;

  /**
   * Sets the time zone and its offset. Returns what the TV answers: 1 for done, 0 for refused. Unlike the other setters it answers 0 when no TV is connected.
   *
   * @param zone time zone (number (truncated toward zero))
   * @param offset offset from UTC (number (truncated toward zero))
   * @returns number. No TV connected: 0. TV answered with an error: 0.
   */
  SetTimeZone(zone: number, offset: number): number;

  // ---- TV events

  /**
   * Asks the TV to report events of `kind` to OnEvent. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param kind event kind (number (truncated toward zero))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetEvent(kind: number): number;

  /**
   * Asks the TV to stop reporting events of `kind`. Returns what the TV answers.
   *
   * @param kind event kind (number (truncated toward zero))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  UnsetEvent(kind: number): number;

  // ---- Country and language

  /**
   * Country the TV is set up for (the TV's numbering).
   *
   * @returns number. No TV connected: 52. TV answered with an error: 52.
   */
  GetCountry(): number;

  /**
   * Sets the country. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param country country (number (truncated toward zero))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetCountry(country: number): number;

  /**
   * Menu language (the TV's numbering).
   *
   * @returns number. No TV connected: 64. TV answered with an error: 64.
   */
  GetLanguage(): number;

  /**
   * Sets the menu language. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param language menu language (number (truncated toward zero))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetLanguage(language: number): number;

  /**
   * The set of languages the TV was built with (the TV's numbering).
   *
   * @returns number. No TV connected: 10. TV answered with an error: 10.
   */
  GetLanguageSet(): number;

  /**
   * The region the TV was built for (the TV's numbering).
   *
   * @returns number. No TV connected: 18. TV answered with an error: 18.
   */
  GetTargetLocation(): number;

  // ---- Picture-in-picture

  /**
   * Picture-in-picture state as the TV answers it (1 on, 0 off).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  GetPIP(): number;

  /**
   * Whether picture-in-picture can be switched to `on` now: the TV's answer (1 yes, 0 no).
   *
   * @param on the state to check (1 or 0 (not a boolean: `true` counts as 0))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  CheckPIP(on: number): number;

  /**
   * Switches picture-in-picture. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param on 1 to switch on, 0 to switch off (1 or 0 (not a boolean: `true` counts as 0))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetPIP(on: number): number;

  // ---- Product

  /**
   * Kind of display panel (the TV's numbering).
   *
   * @returns number. No TV connected: 7. TV answered with an error: 7.
   */
  GetDisplayPanelType(): number;

  /**
   * Kind of product (the TV's numbering).
   *
   * @returns number. No TV connected: 3. TV answered with an error: 3.
   */
  GetProductType(): number;

  /**
   * Kind of disc-player product (the TV's numbering).
   *
   * @returns number. No TV connected: 4. TV answered with an error: 4.
   */
  GetBDProductType(): number;

  /**
   * The product code text (at most 255 bytes).
   *
   * @param full selects one of the TV's two product code texts (1 or 0 (not a boolean: `true` counts as 0))
   * @returns string. No TV connected: "". TV answered with an error: "".
   */
  GetProductCode(full: number): string;

  /**
   * 1 when the TV is a hotel model, 0 otherwise.
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsHotelProduct(): number;

  /**
   * 1 when the TV can record, 0 otherwise.
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SupportPVR(): number;

  /**
   * Kept for old pages: does nothing, asks the TV nothing and returns 1.
   *
   * @param on ignored (1 or 0 (not a boolean: `true` counts as 0))
   * @returns number. No TV connected: 1. TV answered with an error: 1.
   */
  SetWatchDog(on: number): number;

  // ---- TV services

  /**
   * 1 when channel categories are enabled, 0 otherwise.
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  FlagEnableChannelCategory(): number;

  /**
   * Availability of the widget service: the TV's answer as it is (the simulated TV answers 1 or 0; do not assume only 0 and 1).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsYahooAvailable(): number;

  /**
   * Availability of the channel browser (the TV's answer as it is).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsChannelBrowserAvailable(): number;

  /**
   * Availability of the schedule manager (the TV's answer as it is).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsScheduleManagerAvailable(): number;

  /**
   * Availability of the electronic programme guide (the TV's answer as it is).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsEPGAvailable(): number;

  /**
   * Availability of the guide (the TV's answer as it is).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsGuideAvailable(): number;

  /**
   * Availability of the schedule (the TV's answer as it is).
   *
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsScheduleAvailable(): number;

  /**
   * Switches the Internet TV service. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param on 1 on, 0 off (1 or 0 (not a boolean: `true` counts as 0))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetInternetTVState(on: number): number;

  /**
   * Switches the Jorvel service. Returns what the TV answers: 1 for done, 0 for refused.
   *
   * @param on 1 on, 0 off (1 or 0 (not a boolean: `true` counts as 0))
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  SetJorvelState(on: number): number;

  // ---- Power and password

  /**
   * Power state (the TV's numbering; the simulated TV: 0 standby, 1 on, 2 picture off).
   *
   * @returns number. No TV connected: 0. TV answered with an error: 0.
   */
  GetPowerState(): number;

  /**
   * Checks a password against the TV's own: 1 when it is right, 0 when it is wrong. Beware: with no TV connected it answers 1, so a page must not grant anything on this answer alone.
   *
   * @param password the text the user typed, sent unchanged (text)
   * @returns number. No TV connected: 1. TV answered with an error: 0.
   */
  IsValidPassword(password: string): number;

  /**
   * The handler of TV events: a function, or the name of a global function.
   * Reading gives the stored name if one was ever set, else the stored function,
   * else undefined. Assigning null, undefined, a number or a boolean changes
   * nothing. When both a function and a name are stored, events go to the function.
   * A handler given by name is called by evaluating name("param1","param2") with
   * the texts inserted unescaped: a text holding a double quote or a backslash
   * breaks or changes that call. Prefer a function.
   */
  OnEvent: TvEventHandler | string | undefined | null;
}

/** The <embed type="application/tv"> element as a page sees it. */
type TvElement = HTMLEmbedElement & TV;
