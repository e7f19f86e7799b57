// The results page's time axis: labels chosen from the width available never overlap, for
// events from a few hours to months. Loads page.js with a bare window; needs only node.
import { readFileSync } from "node:fs";
import vm from "node:vm";

const source = readFileSync(process.argv[2], "utf8");
const window = { addEventListener() {} };
vm.runInNewContext(source, { window, console });
const step = window.RP.timeLabelStep;

const failures = [];
const expect = (what, ok) => { if (!ok) failures.push(what); };

// The hydrograph's plot is 450 px wide; a label takes 84 px with its gap.
const width = 450;
for (const hours of [6, 24, 48, 72, 120, 192, 240, 24 * 30, 24 * 365]) {
  const s = step(hours, width);
  const spacing = (width * s) / hours;
  expect(`${hours} h: labels ${spacing.toFixed(1)} px apart overlap`, spacing >= 84 || s >= hours);
  expect(`${hours} h: step ${s} is no hour divisor nor whole days`, [1, 2, 3, 6, 12].includes(s) || s % 24 === 0);
  // The next shorter step would have overlapped: the labels are as dense as they can be.
  const shorter = [1, 2, 3, 6, 12, 24].filter((t) => t < s).pop();
  if (shorter !== undefined && s <= 24) expect(`${hours} h: step ${shorter} fits as well`, (width * shorter) / hours < 84);
}
// Eight days: a label every two days (nine daily labels of about 80 px do not fit in 450 px).
expect(`192 h: step ${step(192, width)}, not 48`, step(192, width) === 48);
expect(`6 h: step ${step(6, width)}, not 2`, step(6, width) === 2);

if (failures.length) {
  console.log(failures.join("\n"));
  process.exit(1);
}
console.log("time labels fit");
