// Load times of a results page in Chromium, for the README's figures:
//   node time_page.mjs <case folder> [runs]
// prints, per run, when the first frame was on screen after the page began to load, and how
// long a click on a cell in another hydrograph block took to answer.
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const caseDir = path.resolve(process.argv[2]);
const runs = Number(process.argv[3] ?? 3);
const url = pathToFileURL(path.join(caseDir, "output", "index.html")).href;
for (let run = 1; run <= runs; ++run) {
  const userData = fs.mkdtempSync(path.join(os.tmpdir(), "results-page-timing-"));
  const browser = await chromium.launchPersistentContext(userData, {
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu"],
    viewport: { width: 1480, height: 1000 },
  });
  try {
    const page = browser.pages()[0] ?? (await browser.newPage());
    await page.goto(url);
    await page.waitForSelector("body[data-ready='1']", { timeout: 60000 });
    const firstFrame = await page.evaluate(() => RP.firstFrameAt);
    const { cols, rows } = await page.evaluate(() => ({ cols: RP.meta.cols, rows: RP.meta.rows }));
    const box = await page.locator("#overlay").boundingBox();
    const clicks = [];
    for (const [fx, fy] of [[0.8, 0.2], [0.5, 0.9], [0.2, 0.5]]) {
      const before = await page.evaluate(() => document.getElementById("hydrograph").dataset.cell);
      const t0 = Date.now();
      await page.mouse.click(box.x + fx * box.width, box.y + fy * box.height);
      await page.waitForFunction(
        (b) => document.getElementById("hydrograph").dataset.cell !== b || document.getElementById("cell-message").textContent !== "",
        before
      );
      clicks.push(Date.now() - t0);
    }
    console.log(`run ${run}: ${cols} x ${rows} cells, first frame ${firstFrame.toFixed(0)} ms, clicks ${clicks.join(", ")} ms`);
  } finally {
    await browser.close();
    fs.rmSync(userData, { recursive: true, force: true });
  }
}
