// A page project's script, type-checked against the installed nptv-types. The
// misuse must be an error: that proves the package's declarations are the
// ones in use (an unresolved or loose TvElement would let it through); what
// else the typings reject is tests/e2e/typecheck/misuse.js.
const tv = document.getElementById('tv-object') as TvElement;
const title: string = tv.GetPresentProgram_Title();
const start: number = Number(tv.GetPresentProgram_StartTime());
tv.SetPIP(1);
tv.SetTimeZone(3, 1);
tv.OnEvent = (param1: string, param2: string) => console.log(param1, param2, title, start);
tv.OnEvent = 'onTvEvent';
// @ts-expect-error GetCountry takes no argument
tv.GetCountry(1);
const info: string = tv.GetPluginInfo();
console.log(info);
