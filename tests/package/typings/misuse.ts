// Must NOT type-check: proves the package's declarations are the ones used
// (an unresolved TvElement or a loose declaration would let these through).
const tv = document.getElementById('tv-object') as TvElement;
tv.SetPIP(true);
tv.GetCountry(1);
const n: number = tv.GetPresentProgram_Title();
console.log(n);
