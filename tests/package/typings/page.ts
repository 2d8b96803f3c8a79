// A page project's script, type-checked against the installed nptv-types.
const tv = document.getElementById('tv-object') as TvElement;
const title: string = tv.GetPresentProgram_Title();
const start: number = Number(tv.GetPresentProgram_StartTime());
tv.SetPIP(1);
tv.SetTimeZone(3, 1);
tv.OnEvent = (param1: string, param2: string) => console.log(param1, param2, title, start);
tv.OnEvent = 'onTvEvent';
const info: string = tv.GetPluginInfo();
console.log(info);
