// The results page in a real browser (Debian's Chromium through Playwright), on the example
// basin's simulated event:
//   node page_test.mjs --run <simulated case> --work <scratch folder> --bin <build folder>
//                      [--screenshot <png>]
// copies the case, extracts the outlet's series, writes the page and checks what a user sees.
// Exits 77 (skipped) when Playwright or Chromium is not installed.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";

const args = Object.fromEntries(
  process.argv.slice(2).reduce((pairs, a, i, all) => (a.startsWith("--") ? [...pairs, [a.slice(2), all[i + 1]]] : pairs), [])
);
const CHROMIUM = "/usr/bin/chromium";
let chromium;
try {
  ({ chromium } = await import("playwright-core"));
} catch {
  console.log("playwright-core is not installed (npm ci in tests/results_page/browser): skipped");
  process.exit(77);
}
if (!fs.existsSync(CHROMIUM)) {
  console.log(`${CHROMIUM} is missing (apt-get install chromium): skipped`);
  process.exit(77);
}

// ---- the case: a copy of the simulated example with the outlet's series ------------------
const work = path.resolve(args.work);
const caseDir = path.join(work, "real-basin");
fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
fs.cpSync(args.run, caseDir, { recursive: true });
const bin = path.resolve(args.bin);
const outletLine = execFileSync(path.join(bin, "hydrograph/outlet_hydrograph"), ["outlet", caseDir]).toString();
const [outletColumn, outletRow] = outletLine.trim().split(/\s+/).map(Number);
execFileSync(path.join(bin, "discharge_series/discharge_series"), {
  cwd: path.join(caseDir, "output"),
  input: `${outletColumn}\n${outletRow}\n`,
});
const seriesLines = fs
  .readFileSync(path.join(caseDir, "output", `${outletColumn}-${outletRow}_discharge.dat`), "utf8")
  .trim()
  .split("\n")
  .map((l) => l.split(" "));
const makePage = () =>
  execFileSync(path.join(bin, "results_page/results_page"), [caseDir], { stdio: ["ignore", "pipe", "ignore"] }).toString();
console.log(makePage().trim());

const params = fs.readFileSync(path.join(caseDir, "param-event.dat"), "utf8").trim().split(/\s+/);
const cols = Number(params[0]);
const rows = Number(params[1]);
const days = Number(params[10]);
const hours = 24 * days;
const bin32 = fs.readFileSync(path.join(caseDir, "output", "dischargeHourly.bin"));
const discharge = new Float32Array(bin32.buffer, bin32.byteOffset, bin32.length / 4);
/** Discharge of a cell (column from the west, row from the south, both from 1) in hour h. */
const valueAt = (column, row, h) => discharge[(h - 1) * rows * cols + (row - 1) * cols + (column - 1)];
const header = fs.readFileSync(path.join(caseDir, "input", "rain.dat"), "utf8").trim().split(/\s+/).slice(0, 6).map(Number);
const startMs = Date.UTC(header[0], header[1] - 1, header[2], header[3], header[4], header[5]);
const hourEndText = (h) => new Date(startMs + h * 3600e3).toISOString().slice(0, 16) + "Z";

// The peak of the outlet: the series file's first largest value.
let peakIndex = 0;
for (let i = 1; i < seriesLines.length; ++i) if (Number(seriesLines[i][1]) > Number(seriesLines[peakIndex][1])) peakIndex = i;
const peakHour = peakIndex + 1;
const peakToken = seriesLines[peakIndex][1];

// The colour scales, worked out here from the raw grid.
let smallestPositive = Infinity;
let smallest = Infinity;
let largest = -Infinity;
for (const v of discharge.subarray(0, hours * rows * cols)) {
  if (v >= 0) {
    smallest = Math.min(smallest, v);
    largest = Math.max(largest, v);
    if (v > 0) smallestPositive = Math.min(smallestPositive, v);
  }
}
// The log scale starts at the channels' smallest event peak (cells with a flow accumulation
// above the channel threshold, param-event.dat value 17), when that lies between the smallest
// positive and the largest discharge.
const flowAcc = new Int32Array(new Uint8Array(fs.readFileSync(path.join(caseDir, "topoData", "flowAcc.bin"))).buffer);
const channelArea = Number(params[16]);
let channelFloor = Infinity;
for (let i = 0; i < rows * cols; ++i) {
  if (flowAcc[i] <= channelArea || discharge[i] < 0) continue;
  let peak = 0;
  for (let h = 0; h < hours; ++h) peak = Math.max(peak, discharge[h * rows * cols + i]);
  if (peak > 0) channelFloor = Math.min(channelFloor, peak);
}
const logLower = channelFloor > smallestPositive && channelFloor < largest ? channelFloor : smallestPositive;
function ramp(i) {
  if (i < 64) return [0, 4 * i, 252];
  if (i < 128) return [0, 252, 508 - 4 * i];
  if (i < 192) return [4 * i - 512, 252, 0];
  return [252, 1020 - 4 * i, 0];
}
/** Colours a cell may have on the logarithmic scale (two when the position is on a step). */
function logColours(v) {
  const pos = (255 * (Math.log(v) - Math.log(logLower))) / (Math.log(largest) - Math.log(logLower));
  const i = Math.min(255, Math.max(0, Math.trunc(pos)));
  const near = Math.abs(pos - Math.round(pos)) < 1e-9 ? [Math.round(pos) - 1, Math.round(pos)] : [i];
  return near.filter((k) => k >= 0 && k <= 255).map(ramp);
}
/** Colour of the maps' square-root scale: ratio in single precision, its root rounded to single. */
function sqrtColour(v) {
  const f = Math.fround;
  const ratio = f(f(v - smallest) / f(largest - smallest));
  return ramp(Math.trunc(f(Math.sqrt(ratio)) * 255));
}

// ---- the browser -------------------------------------------------------------------------
const userData = fs.mkdtempSync(path.join(work, "chromium-"));
const browser = await chromium.launchPersistentContext(userData, {
  executablePath: CHROMIUM,
  args: ["--no-sandbox", "--disable-gpu", "--allow-file-access-from-files"],
  viewport: { width: 1480, height: 900 },
});
const failures = [];
try {
  const page = browser.pages()[0] ?? (await browser.newPage());
  const consoleErrors = [];
  page.on("console", (m) => m.type() === "error" && consoleErrors.push(m.text()));
  page.on("pageerror", (e) => consoleErrors.push(String(e)));
  const url = pathToFileURL(path.join(caseDir, "output", "index.html")).href;

  async function open() {
    const t0 = Date.now();
    await page.goto(url);
    await page.waitForSelector("body[data-ready='1']", { timeout: 20000 });
    return Date.now() - t0;
  }
  const check = async (name, body) => {
    try {
      await body();
      console.log(`ok   ${name}`);
    } catch (e) {
      failures.push(name);
      console.log(`FAIL ${name}\n     ${e.message.split("\n").join("\n     ")}`);
    }
  };
  const mapPixel = (column, row) =>
    page.evaluate(
      ([c, r, n]) => {
        const canvas = document.getElementById("map");
        const s = canvas.width / n.cols;
        const x = Math.floor((c - 0.5) * s);
        const y = Math.floor((n.rows - r + 0.5) * s);
        return Array.from(canvas.getContext("2d").getImageData(x, y, 1, 1).data);
      },
      [column, row, { cols, rows }]
    );
  const setHour = async (h) => {
    await page.locator("#hour").fill(String(h));
    await page.waitForSelector(`#map[data-hour='${h}']`);
  };
  const clickCell = async (column, row) => {
    const box = await page.locator("#overlay").boundingBox();
    await page.mouse.click(box.x + ((column - 0.5) / cols) * box.width, box.y + ((rows - row + 0.5) / rows) * box.height);
  };

  const loadMs = await open();
  const firstFrameMs = await page.evaluate(() => RP.firstFrameMs);
  console.log(`page ready in ${loadMs} ms (first frame ${firstFrameMs.toFixed(0)} ms after the scripts)`);

  await check("the page loads without a console error", async () => {
    assert.deepEqual(consoleErrors, []);
    assert.equal(await page.textContent("#time-label"), hourEndText(1));
  });

  await check("the legend runs from the channels' smallest peak to the largest discharge", async () => {
    for (const [id, v] of [["#legend-min", logLower], ["#legend-max", largest]]) {
      const el = page.locator(id);
      assert.equal(Math.fround(Number(await el.getAttribute("data-value"))), v, id);
      assert.equal(Number(await el.textContent()), Number(v.toPrecision(6)), id);
    }
  });

  await check("the slider at the peak hour changes the map and names the hour's end", async () => {
    const before = await page.evaluate(() => document.getElementById("map").toDataURL());
    await setHour(peakHour);
    const after = await page.evaluate(() => document.getElementById("map").toDataURL());
    assert.notEqual(after, before);
    assert.equal(await page.textContent("#time-label"), hourEndText(peakHour));
    assert.match(await page.textContent("#rain-label"), /^rain over the basin of river \d+: \d+\.\d\d mm\/h$/);
    // Play moves on by itself; pause holds the hour.
    await page.click("#play");
    await page.waitForFunction((h) => Number(document.getElementById("map").dataset.hour) !== h, peakHour);
    await page.click("#play");
    await page.waitForTimeout(300);  // a frame asked for just before the pause may still land
    const held = await page.getAttribute("#map", "data-hour");
    await page.waitForTimeout(800);
    assert.equal(await page.getAttribute("#map", "data-hour"), held);
    await setHour(peakHour);
  });

  await check("cells at the peak hour have their colours on both scales", async () => {
    // The outlet, the largest and a middling value of the hour, and a cell off the rivers.
    const cells = [];
    for (let r = 3; r <= rows - 2; ++r) for (let c = 3; c <= cols - 2; ++c) if (valueAt(c, r, peakHour) > 0) cells.push([c, r]);
    cells.sort((a, b) => valueAt(...a, peakHour) - valueAt(...b, peakHour));
    const chosen = [[outletColumn, outletRow], cells[cells.length - 1], cells[cells.length >> 1], cells[cells.length >> 3]];
    // The maps black out the line of cells one inside the border; the page shows their values.
    for (let c = 3; c <= cols - 2 && chosen.length < 5; ++c) if (valueAt(c, 2, peakHour) > 0) chosen.push([c, 2]);
    assert.equal(chosen.length, 5, "a simulated cell in the second row from the south");
    for (const [c, r] of chosen) {
      const v = valueAt(c, r, peakHour);
      const [pr, pg, pb] = await mapPixel(c, r);
      assert.ok(
        logColours(v).some(([er, eg, eb]) => er === pr && eg === pg && eb === pb),
        `column ${c}, row ${r}: ${v} m3/s drawn (${pr}, ${pg}, ${pb}), expected ${JSON.stringify(logColours(v))}`
      );
    }
    let off = null;
    for (let i = 0; i < cols * rows && !off; ++i) if (discharge[(peakHour - 1) * rows * cols + i] === -9999) off = [(i % cols) + 1, Math.floor(i / cols) + 1];
    const [gr, gg, gb] = await mapPixel(...off);
    assert.ok(Math.abs(gr - gb) <= 8 && Math.abs(gg - gb) <= 8, `a cell off the rivers is grey relief, not (${gr}, ${gg}, ${gb})`);

    await page.selectOption("#scale", "sqrt");
    await page.waitForSelector("#map[data-scale='sqrt']");
    assert.equal(Math.fround(Number(await page.locator("#legend-min").getAttribute("data-value"))), smallest);
    for (const [c, r] of chosen) {
      const v = valueAt(c, r, peakHour);
      assert.deepEqual((await mapPixel(c, r)).slice(0, 3), sqrtColour(v), `square-root scale, column ${c}, row ${r}`);
    }
    await page.selectOption("#scale", "log");
    await page.waitForSelector("#map[data-scale='log']");
  });

  await check("clicking the outlet shows its hydrograph with the series file's peak", async () => {
    // Away first, to a cell of another block of hydrographs, then back to the outlet.
    const far = [cols - 3, 3];
    await clickCell(...far);
    await page.waitForFunction((cell) => document.getElementById("hydrograph").dataset.cell === cell || document.getElementById("cell-message").textContent !== "", `${far[0]},${far[1]}`);
    const t0 = Date.now();
    await clickCell(outletColumn, outletRow);
    await page.waitForSelector(`#hydrograph[data-cell='${outletColumn},${outletRow}']`);
    console.log(`     click answered in ${Date.now() - t0} ms`);
    const peak = page.locator("#peak-label");
    assert.equal(await peak.getAttribute("data-value"), peakToken);
    assert.equal(await peak.getAttribute("data-hour"), String(peakHour));
    assert.ok((await peak.textContent()).startsWith(`Peak ${peakToken} m\u00b3/s at ${hourEndText(peakHour)}`));
    assert.equal(await page.locator("#hydrograph polyline").count(), 1);
  });

  if (args.screenshot) {
    await page.mouse.move(0, 0);
    await page.screenshot({ path: args.screenshot, fullPage: true });
  }

  await check("gauges are marked and their observations drawn", async () => {
    const cellsCsv =
      "id,column,row,lon,lat,upstream_km2,river\n" +
      `G1,${outletColumn},${outletRow},0,0,1000,1\n` +
      `G2,${cols - 3},${rows - 3},0,0,10,2\n`;
    const observed = ["time,G1,G2"];
    for (let h = 1; h <= hours; h += 3) observed.push(`${new Date(startMs + h * 3600e3).toISOString().slice(0, 19)}Z,${h * 10},`);
    fs.writeFileSync(path.join(caseDir, "output", "gauge_cells.csv"), cellsCsv);
    fs.writeFileSync(path.join(caseDir, "output", "gauge_observed.csv"), observed.join("\n") + "\n");
    assert.match(makePage(), /2 gauges/);
    await open();
    await clickCell(cols - 3, rows - 3);
    await clickCell(outletColumn, outletRow);
    await page.waitForSelector(`#hydrograph[data-cell='${outletColumn},${outletRow}']`);
    assert.match(await page.textContent("#cell-title"), /^Gauge G1: /);
    assert.equal(await page.locator("#hydrograph circle.observed").count(), observed.length - 1);
    assert.deepEqual(consoleErrors, []);
  });

  await check("an ensemble's quantiles at a gauge draw its fan behind the series", async () => {
    // A fan made from the outlet's series: the median on it, 5-95 % at 0.8 and 1.2 times it.
    const stamp = (h) => `${new Date(startMs + h * 3600e3).toISOString().slice(0, 19)}Z`;
    const lines = ["gauge,time,q05,q25,q50,q75,q95"];
    seriesLines.forEach(([, token], i) => {
      const v = Number(token);
      lines.push(`G1,${stamp(i + 1)},${0.8 * v},${0.9 * v},${token},${1.1 * v},${1.2 * v}`);
    });
    lines.push(`NOT-HERE,${stamp(1)},1,1,1,1,1`);
    fs.mkdirSync(path.join(caseDir, "output", "ensemble"), { recursive: true });
    fs.writeFileSync(path.join(caseDir, "output", "ensemble", "gauge_quantiles.csv"), lines.join("\n") + "\n");
    assert.match(makePage(), /^Note: ensemble\/gauge_quantiles.csv has lines for gauges not in gauge_cells.csv \("NOT-HERE"\)/);
    await open();
    await clickCell(outletColumn, outletRow);
    await page.waitForSelector(`#hydrograph[data-cell='${outletColumn},${outletRow}'] #fan`);
    for (const shape of ["#fan", "polygon.fan-outer", "polygon.fan-inner", "polyline.fan-median"]) {
      assert.equal(await page.getAttribute(`#hydrograph ${shape}`, "data-points"), String(hours), shape);
    }
    const pointsOf = async (selector) =>
      (await page.getAttribute(selector, "points")).split(" ").map((p) => p.split(",").map(Number));
    const simulated = await pointsOf("#hydrograph polyline:not(.fan-median)");
    const median = await pointsOf("#hydrograph polyline.fan-median");
    const outer = await pointsOf("#hydrograph polygon.fan-outer");
    const inner = await pointsOf("#hydrograph polygon.fan-inner");
    assert.equal(median.length, hours);
    assert.equal(outer.length, 2 * hours);
    for (let i = 0; i < hours; ++i) {
      // The median lies on the series; the bands run above and below it, the 5-95 % one wider.
      assert.equal(median[i][0], simulated[i][0], `hour ${i + 1}`);
      assert.ok(Math.abs(median[i][1] - simulated[i][1]) <= 0.1, `hour ${i + 1}`);
      const [top, bottom] = [outer[i], outer[2 * hours - 1 - i]];
      const [innerTop, innerBottom] = [inner[i], inner[2 * hours - 1 - i]];
      assert.equal(top[0], median[i][0]);
      assert.equal(bottom[0], median[i][0]);
      assert.ok(top[1] <= innerTop[1] && innerTop[1] <= median[i][1] + 0.05, `hour ${i + 1}: upper edges`);
      assert.ok(median[i][1] <= innerBottom[1] + 0.05 && innerBottom[1] <= bottom[1], `hour ${i + 1}: lower edges`);
    }
    // The peak's 5-95 % band spans 0.4 times the peak on the axis.
    const peakSpan = outer[2 * hours - 1 - peakIndex][1] - outer[peakIndex][1];
    const peakHeight = (await page.evaluate(() => document.querySelector("#hydrograph line[stroke='#1d2430']").getAttribute("y1"))) - median[peakIndex][1];
    assert.ok(Math.abs(peakSpan - 0.4 * peakHeight) <= 0.3, `band ${peakSpan} at a peak ${peakHeight} above the axis`);
    const key = await page.locator("#fan-key text").allTextContents();
    assert.deepEqual(key, ["Ensemble median", "5-95 %", "25-75 %"]);
    // Away to a gauge without a fan: no fan is left behind.
    await clickCell(cols - 3, rows - 3);
    await page.waitForFunction(() => !document.querySelector("#hydrograph #fan"));
    assert.deepEqual(consoleErrors, []);
  });
} finally {
  await browser.close();
}
if (failures.length > 0) {
  console.log(`${failures.length} check(s) failed`);
  process.exit(1);
}
