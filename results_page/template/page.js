// The results page: the hourly discharge map over the relief, the time of each hour with the
// rain over the selected river's basin, and the hydrograph of the selected cell. Data arrives as
// scripts (a page opened from the file system may not read sibling files): page/meta.js
// describes the event, page/frames/<scale>/<hour>.js hold a byte per simulated cell (the colour
// index), page/series/<block>.js the hourly discharge of a block of cells.
"use strict";

const RP = (window.RP = window.RP || {});

(function () {
  const pendingText = new Map();  // script key -> base64 text handed over by the script
  RP.frame = (scale, hour, text) => pendingText.set(`f/${scale}/${hour}`, text);
  RP.block = (block, text) => pendingText.set(`b/${block}`, text);

  const SVG = "http://www.w3.org/2000/svg";
  const CELL_HEIGHT_M = 926.6;

  // ---- numbers and times -----------------------------------------------------------------

  /** A number as C++ streams print it by default: 6 significant digits, %g style. */
  function fmtG(x, digits = 6) {
    if (x === 0) return "0";
    if (!Number.isFinite(x)) return String(x);
    const [mant, expText] = x.toExponential(digits - 1).split("e");
    const exp = Number(expText);
    if (exp < -4 || exp >= digits) {
      const m = mant.includes(".") ? mant.replace(/\.?0+$/, "") : mant;
      return `${m}e${exp < 0 ? "-" : "+"}${String(Math.abs(exp)).padStart(2, "0")}`;
    }
    const s = x.toFixed(Math.max(0, digits - 1 - exp));
    return s.includes(".") ? s.replace(/\.?0+$/, "") : s;
  }
  RP.fmtG = fmtG;

  /** Time at which hour h (1-based) of the event ends, in ISO 8601 UTC ("2000-01-02T03:00Z"). */
  function hourEnd(h) {
    const t = new Date(Date.parse(RP.meta.start) + h * 3600e3).toISOString();
    return `${t.slice(0, 16)}Z`;
  }
  RP.hourEnd = hourEnd;

  // ---- colours ---------------------------------------------------------------------------

  /** Colour of a ramp index: blue (0), cyan (63), green (127), yellow (191), red (255). */
  function ramp(i) {
    if (i < 64) return [0, 4 * i, 252];
    if (i < 128) return [0, 252, 508 - 4 * i];
    if (i < 192) return [4 * i - 512, 252, 0];
    return [252, 1020 - 4 * i, 0];
  }
  RP.ramp = ramp;

  /** Discharge at ramp position p (0..255) of a scale. */
  function valueAt(scale, p) {
    const { lower, upper } = RP.meta.scales[scale];
    if (scale === "log") return lower * Math.pow(upper / lower, p / 255);
    const r = p / 255;
    return lower + r * r * (upper - lower);
  }
  /** Ramp position (0..255, fractional) of a discharge on a scale. */
  function positionOf(scale, v) {
    const { lower, upper } = RP.meta.scales[scale];
    if (!(upper > lower)) return 0;
    if (scale === "log") return (255 * Math.log(v / lower)) / Math.log(upper / lower);
    return 255 * Math.sqrt((v - lower) / (upper - lower));
  }

  // ---- decoding --------------------------------------------------------------------------

  function base64Bytes(text) {
    const raw = atob(text);
    const out = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; ++i) out[i] = raw.charCodeAt(i);
    return out;
  }
  async function inflate(text) {
    const stream = new Blob([base64Bytes(text)]).stream().pipeThrough(new DecompressionStream("deflate"));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }

  const loadingScripts = new Map();
  /** Loads a data script once; resolves with the base64 text it handed over. */
  function loadData(key, src) {
    if (!loadingScripts.has(key)) {
      loadingScripts.set(
        key,
        new Promise((resolve, reject) => {
          const el = document.createElement("script");
          el.src = src;
          el.onload = () => {
            const text = pendingText.get(key);
            pendingText.delete(key);
            el.remove();
            if (text === undefined) reject(new Error(`${src} holds no data`));
            else resolve(text);
          };
          el.onerror = () => reject(new Error(`${src} cannot be loaded`));
          document.head.appendChild(el);
        })
      );
    }
    return loadingScripts.get(key);
  }
  const pad4 = (n) => String(n).padStart(4, "0");

  const frames = { log: new Map(), sqrt: new Map() };
  function frame(scale, hour) {
    if (!frames[scale].has(hour)) {
      frames[scale].set(
        hour,
        loadData(`f/${scale}/${hour}`, `page/frames/${scale}/${pad4(hour)}.js`).then(inflate)
      );
    }
    return frames[scale].get(hour);
  }

  const blocks = new Map();
  /** Hydrographs, flow accumulations, rivers and upstream areas of block b. */
  function block(b) {
    if (!blocks.has(b)) {
      blocks.set(
        b,
        loadData(`b/${b}`, `page/series/${pad4(b)}.js`)
          .then(inflate)
          .then((bytes) => {
            const m = RP.meta;
            const cells = Math.min(m.blockCells, m.simCount - b * m.blockCells);
            const n = cells * m.hours;
            const words = new Uint32Array(n);
            for (let p = 0; p < 4; ++p) {
              const plane = bytes.subarray(p * n, (p + 1) * n);
              const shift = 8 * p;
              for (let i = 0; i < n; ++i) words[i] |= plane[i] << shift;
            }
            const view = new DataView(bytes.buffer, bytes.byteOffset + 4 * n, 12 * cells);
            const flowAcc = new Int32Array(cells);
            const river = new Int32Array(cells);
            const area = new Float32Array(cells);
            for (let k = 0; k < cells; ++k) {
              flowAcc[k] = view.getInt32(4 * k, true);
              river[k] = view.getInt32(4 * (cells + k), true);
              area[k] = view.getFloat32(4 * (2 * cells + k), true);
            }
            return { series: new Float32Array(words.buffer), flowAcc, river, area };
          })
      );
    }
    return blocks.get(b);
  }

  // ---- state -----------------------------------------------------------------------------

  const state = { hour: 1, scale: "log", playing: false, selected: null, drawn: 0 };
  RP.state = state;
  let simOrdinal;  // cell index (row 0 north) -> ordinal among the simulated cells, or -1
  let shade;       // grey level of every cell
  let pixel = 1;   // canvas pixels per cell
  let offscreen, offCtx, image;

  const $ = (id) => document.getElementById(id);

  // ---- map -------------------------------------------------------------------------------

  function setupMap() {
    const m = RP.meta;
    pixel = Math.max(1, Math.min(Math.floor(820 / m.cols), Math.floor(560 / m.rows)));
    const w = m.cols * pixel;
    const h = m.rows * pixel;
    const shown = Math.min(1, 800 / w);  // large grids are shown smaller than their pixels
    const margin = { left: 64, top: 26, right: 14, bottom: 30 };
    const sw = Math.round(w * shown);
    const sh = Math.round(h * shown);
    for (const id of ["map", "overlay"]) {
      const c = $(id);
      c.width = w;
      c.height = h;
      c.style.left = `${margin.left}px`;
      c.style.top = `${margin.top}px`;
      c.style.width = `${sw}px`;
      c.style.height = `${sh}px`;
    }
    const frameDiv = $("map-frame");
    frameDiv.style.width = `${sw + margin.left + margin.right}px`;
    frameDiv.style.height = `${sh + margin.top + margin.bottom}px`;
    drawAxes(sw, sh, margin);
    offscreen = document.createElement("canvas");
    offscreen.width = m.cols;
    offscreen.height = m.rows;
    offCtx = offscreen.getContext("2d");
    image = offCtx.createImageData(m.cols, m.rows);
    const px = image.data;
    for (let i = 0; i < shade.length; ++i) {
      // Relief in a light, slightly warm grey, so that the coloured rivers stand out.
      const g = 120 + shade[i] * 0.5;
      px[4 * i] = g + 6;
      px[4 * i + 1] = g + 3;
      px[4 * i + 2] = g;
      px[4 * i + 3] = 255;
    }
  }

  function niceStep(range, count) {
    const raw = range / count;
    const mag = Math.pow(10, Math.floor(Math.log10(raw)));
    for (const f of [1, 2, 2.5, 5, 10]) if (f * mag >= raw) return f * mag;
    return 10 * mag;
  }

  function degreeLabel(v, pos, neg) {
    const a = Math.abs(v);
    const text = Number.isInteger(Math.round(a * 1000) / 1000) ? a.toFixed(0) : String(Math.round(a * 1000) / 1000);
    return `${text}\u00b0${v < 0 ? neg : pos}`;
  }

  /** Latitude and longitude ticks around the map (shown at sw x sh CSS pixels). */
  function drawAxes(sw, sh, margin) {
    const m = RP.meta;
    const c = $("axes");
    const ratio = window.devicePixelRatio || 1;
    const W = sw + margin.left + margin.right;
    const H = sh + margin.top + margin.bottom;
    c.width = W * ratio;
    c.height = H * ratio;
    c.style.width = `${W}px`;
    c.style.height = `${H}px`;
    const g = c.getContext("2d");
    g.scale(ratio, ratio);
    g.font = "11px 'DejaVu Sans', Arial, sans-serif";
    g.fillStyle = "#1d2430";
    g.strokeStyle = "#1d2430";
    g.strokeRect(margin.left - 0.5, margin.top - 0.5, sw + 1, sh + 1);
    const west = m.swLon;
    const east = m.swLon + (m.cols * 30) / 3600;
    const south = m.swLat;
    const north = m.swLat + (m.rows * 30) / 3600;
    const lonStep = niceStep(east - west, 6);
    g.textAlign = "center";
    g.textBaseline = "top";
    for (let lon = Math.ceil(west / lonStep) * lonStep; lon <= east + 1e-9; lon += lonStep) {
      const x = margin.left + ((lon - west) / (east - west)) * sw;
      g.beginPath();
      g.moveTo(x, margin.top + sh);
      g.lineTo(x, margin.top + sh + 5);
      g.stroke();
      g.fillText(degreeLabel(lon, "E", "W"), x, margin.top + sh + 8);
    }
    const latStep = niceStep(north - south, 5);
    g.textAlign = "right";
    g.textBaseline = "middle";
    for (let lat = Math.ceil(south / latStep) * latStep; lat <= north + 1e-9; lat += latStep) {
      const y = margin.top + sh - ((lat - south) / (north - south)) * sh;
      g.beginPath();
      g.moveTo(margin.left - 5, y);
      g.lineTo(margin.left, y);
      g.stroke();
      g.fillText(degreeLabel(lat, "N", "S"), margin.left - 8, y);
    }
    // North arrow above the top right corner of the map.
    const ax = margin.left + sw - 10;
    g.beginPath();
    g.moveTo(ax, 4);
    g.lineTo(ax - 5, 16);
    g.lineTo(ax + 5, 16);
    g.closePath();
    g.fill();
    g.textAlign = "right";
    g.fillText("N", ax - 9, 12);
  }

  async function drawFrame() {
    const hour = state.hour;
    const scale = state.scale;
    const bytes = await frame(scale, hour);
    if (hour !== state.hour || scale !== state.scale) return;  // a newer hour was asked for
    const lut = new Uint8Array(256 * 3);
    for (let i = 0; i < 256; ++i) lut.set(ramp(i), 3 * i);
    const px = image.data;
    for (let k = 0; k < RP.simCells.length; ++k) {
      const c = 4 * RP.simCells[k];
      const i = 3 * bytes[k];
      px[c] = lut[i];
      px[c + 1] = lut[i + 1];
      px[c + 2] = lut[i + 2];
    }
    offCtx.putImageData(image, 0, 0);
    const canvas = $("map");
    const g = canvas.getContext("2d");
    g.imageSmoothingEnabled = false;
    g.drawImage(offscreen, 0, 0, canvas.width, canvas.height);
    canvas.dataset.hour = String(hour);
    canvas.dataset.scale = scale;
    state.drawn += 1;
    updateHydrographMarker();
  }

  function drawOverlay() {
    const m = RP.meta;
    const c = $("overlay");
    const g = c.getContext("2d");
    g.clearRect(0, 0, c.width, c.height);
    const unit = c.width / parseFloat(c.style.width);  // canvas pixels per CSS pixel
    for (const gauge of m.gauges) {
      const x = (gauge.column - 0.5) * pixel;
      const y = (m.rows - gauge.row + 0.5) * pixel;
      const s = 7 * unit;
      g.beginPath();
      g.moveTo(x, y - s);
      g.lineTo(x - s * 0.87, y + s * 0.5);
      g.lineTo(x + s * 0.87, y + s * 0.5);
      g.closePath();
      g.fillStyle = "rgba(255,255,255,0.9)";
      g.strokeStyle = "#111";
      g.lineWidth = 1.5 * unit;
      g.fill();
      g.stroke();
      g.font = `${11 * unit}px 'DejaVu Sans', Arial, sans-serif`;
      g.fillStyle = "#111";
      const room = x + s + g.measureText(gauge.id).width < c.width;  // label left near the edge
      g.textAlign = room ? "left" : "right";
      g.fillText(gauge.id, room ? x + s : x - s, y - s * 0.6);
    }
    if (state.selected) {
      const { column, row } = state.selected;
      const x = (column - 1) * pixel;
      const y = (m.rows - row) * pixel;
      const r = Math.max(6 * unit, pixel * 1.5);
      g.strokeStyle = "#000";
      g.lineWidth = 3 * unit;
      g.beginPath();
      g.arc(x + pixel / 2, y + pixel / 2, r, 0, 2 * Math.PI);
      g.stroke();
      g.strokeStyle = "#fff";
      g.lineWidth = 1.5 * unit;
      g.stroke();
    }
  }

  // ---- legend ----------------------------------------------------------------------------

  function drawLegend() {
    const scale = state.scale;
    const { lower, upper } = RP.meta.scales[scale];
    const bar = $("legend-bar");
    const g = bar.getContext("2d");
    for (let x = 0; x < bar.width; ++x) {
      const [r, gr, b] = ramp(Math.floor((x * 256) / bar.width));
      g.fillStyle = `rgb(${r},${gr},${b})`;
      g.fillRect(x, 0, 1, bar.height);
    }
    $("legend-scale").textContent = scale === "log" ? "(logarithmic scale)" : "(square-root scale)";
    const minEl = $("legend-min");
    const maxEl = $("legend-max");
    minEl.textContent = fmtG(lower);
    minEl.dataset.value = String(lower);
    maxEl.textContent = fmtG(upper);
    maxEl.dataset.value = String(upper);
    // Round values between the ends.
    const ticks = $("legend-ticks");
    ticks.textContent = "";
    const values = [];
    if (upper > lower) {
      if (scale === "log") {
        for (let e = Math.floor(Math.log10(lower)); e <= Math.ceil(Math.log10(upper)); ++e) {
          for (const f of [1, 10 ** (Math.log10(upper / lower) > 3 ? 1 : 0.5)]) {
            const v = f * Math.pow(10, e);
            if (v > lower && v < upper) values.push(v);
          }
        }
      } else {
        const step = niceStep(upper - lower, 5);
        for (let v = Math.ceil(lower / step) * step; v < upper; v += step) if (v > lower) values.push(v);
      }
    }
    for (const v of values) {
      const p = positionOf(scale, v) / 255;
      if (p < 0.06 || p > 0.94) continue;  // leave room for the end labels
      const span = document.createElement("span");
      span.style.left = `${p * 100}%`;
      span.textContent = fmtG(Number(v.toPrecision(3)));
      ticks.appendChild(span);
    }
  }

  // ---- time ------------------------------------------------------------------------------

  function basinRain(river, hour) {
    const series = RP.meta.riverRain[String(river)];
    return series ? series[hour - 1] : undefined;
  }

  function showTime() {
    const m = RP.meta;
    $("time-label").textContent = hourEnd(state.hour);
    $("time-note").textContent =
      `end of hour ${state.hour} of ${m.hours}` +
      (m.startFallback ? " (rain.dat names no valid start date: counted from 2000-01-01)" : "");
    const river = state.selected && state.selected.river !== undefined ? state.selected.river : RP.outletRiver;
    const rain = basinRain(river, state.hour);
    $("rain-label").textContent =
      rain === undefined ? "" : `rain over the basin of river ${river}: ${rain.toFixed(2)} mm/h`;
    $("hour").value = String(state.hour);
  }

  function setHour(h) {
    state.hour = Math.min(RP.meta.hours, Math.max(1, h));
    showTime();
    drawFrame().catch(report);
  }

  let timer = null;
  function togglePlay() {
    state.playing = !state.playing;
    $("play").innerHTML = state.playing ? "&#10074;&#10074; Pause" : "&#9654; Play";
    if (!state.playing) {
      clearTimeout(timer);
      return;
    }
    const step = async () => {
      if (!state.playing) return;
      const next = state.hour >= RP.meta.hours ? 1 : state.hour + 1;
      await frame(state.scale, next);
      if (!state.playing) return;
      setHour(next);
      timer = setTimeout(step, 350);
    };
    step().catch(report);
  }

  // ---- hydrograph ------------------------------------------------------------------------

  function svgEl(name, attrs, parent, text) {
    const el = document.createElementNS(SVG, name);
    for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, v);
    if (text !== undefined) el.textContent = text;
    if (parent) parent.appendChild(el);
    return el;
  }

  function cellAt(column, row) {
    const m = RP.meta;
    const index = (m.rows - row) * m.cols + (column - 1);
    return { column, row, index, ordinal: simOrdinal[index] };
  }

  function lonLat(column, row) {
    const m = RP.meta;
    return {
      lon: m.swLon + ((column - 1) * 30 + 15) / 3600,
      lat: m.swLat + ((row - 1) * 30 + 15) / 3600,
    };
  }

  async function select(column, row) {
    const m = RP.meta;
    const cell = cellAt(column, row);
    state.selected = { column, row };
    drawOverlay();
    const gauge = m.gauges.find((g) => g.column === column && g.row === row);
    const { lon, lat } = lonLat(column, row);
    const info = [
      ["Column, row", `${column}, ${row}`],
      ["Longitude", `${lon.toFixed(4)}\u00b0`],
      ["Latitude", `${lat.toFixed(4)}\u00b0`],
    ];
    $("cell-message").textContent = "";
    if (cell.ordinal < 0) {
      $("cell-title").textContent = `Column ${column}, row ${row}`;
      setInfo(info);
      $("hydrograph").textContent = "";
      $("hydrograph").dataset.cell = "";
      $("peak-label").textContent = "";
      $("cell-message").textContent =
        "No discharge is simulated here: the cell is off the listed rivers or on the border of the grid.";
      showTime();
      return;
    }
    const b = Math.floor(cell.ordinal / m.blockCells);
    const k = cell.ordinal - b * m.blockCells;
    const data = await block(b);
    if (!state.selected || state.selected.column !== column || state.selected.row !== row) return;
    const series = data.series.subarray(k * m.hours, (k + 1) * m.hours);
    state.selected.river = data.river[k];
    state.selected.series = series;
    let peak = 0;
    for (let i = 1; i < series.length; ++i) if (series[i] > series[peak]) peak = i;
    $("cell-title").textContent =
      (gauge ? `Gauge ${gauge.id}: ` : "") + `river ${data.river[k]}, column ${column}, row ${row}`;
    info.push(["River", String(data.river[k])]);
    const area = data.area[k];
    const areaText = area >= 100 ? Math.round(area).toLocaleString("en") : area.toPrecision(3);
    info.push(["Upstream area", `${areaText} km\u00b2 (${data.flowAcc[k].toLocaleString("en")} cells)`]);
    info.push(["Peak", `${fmtG(series[peak])} m\u00b3/s in hour ${peak + 1}`]);
    setInfo(info);
    const peakEl = $("peak-label");
    peakEl.textContent = `Peak ${fmtG(series[peak])} m\u00b3/s at ${hourEnd(peak + 1)} (hour ${peak + 1})`;
    peakEl.dataset.value = fmtG(series[peak]);
    peakEl.dataset.hour = String(peak + 1);
    drawHydrograph(series, peak, data.river[k], gauge);
    $("hydrograph").dataset.cell = `${column},${row}`;
    showTime();
  }

  function setInfo(rows) {
    const dl = $("cell-info");
    dl.textContent = "";
    for (const [k, v] of rows) {
      const dt = document.createElement("dt");
      dt.textContent = k;
      const dd = document.createElement("dd");
      dd.textContent = v;
      dl.append(dt, dd);
    }
  }

  const plot = { left: 58, right: 52, top: 16, bottom: 44, width: 560, height: 330 };

  /**
   * Hours between the time axis' labels: the shortest step of 1, 2, 3, 6 or 12 hours or of
   * whole days whose labels ("MM-DD hh:mm", `labelPx` wide with the gap between two) stand
   * side by side in `widthPx` for an event of `hours` hours.
   */
  function timeLabelStep(hours, widthPx, labelPx = 84) {
    const fit = Math.max(1, Math.floor(widthPx / labelPx));
    for (const step of [1, 2, 3, 6, 12]) if (hours / step <= fit) return step;
    return 24 * Math.max(1, Math.ceil(hours / 24 / fit));
  }
  RP.timeLabelStep = timeLabelStep;

  function drawHydrograph(series, peak, river, gauge) {
    const m = RP.meta;
    const svg = $("hydrograph");
    svg.textContent = "";
    const x0 = plot.left;
    const x1 = plot.width - plot.right;
    const y0 = plot.height - plot.bottom;
    const y1 = plot.top;
    const observed = gauge ? gauge.observed.filter(([h]) => h >= 0 && h <= m.hours) : [];
    // The ensemble's hours at the gauge: [hour, q05, q25, q50, q75, q95].
    const fan = gauge && gauge.fan ? gauge.fan.filter(([h]) => h >= 1 && h <= m.hours) : [];
    svg.setAttribute("viewBox", `0 0 ${plot.width} ${plot.height + (fan.length > 0 ? 16 : 0)}`);
    let top = series[peak];
    for (const [, v] of observed) top = Math.max(top, v);
    for (const row of fan) top = Math.max(top, row[5]);
    const step = niceStep(top > 0 ? top : 1, 5);
    const qMax = Math.max(step, Math.ceil((top * 1.08) / step) * step);
    const rain = m.riverRain[String(river)] || [];
    const rainTop = Math.max(1, ...rain) * 2.2;  // bars fill the upper part of the plot
    const X = (h) => x0 + (h / m.hours) * (x1 - x0);
    const Y = (q) => y0 - (q / qMax) * (y0 - y1);

    // Grid and axes.
    const grid = svgEl("g", { stroke: "#e3e7ec", "stroke-width": 1 }, svg);
    for (let q = 0; q <= qMax + step / 2; q += step) {
      svgEl("line", { x1: x0, x2: x1, y1: Y(q), y2: Y(q) }, grid);
      svgEl("text", { x: x0 - 6, y: Y(q) + 4, "text-anchor": "end" }, svg, fmtG(Number(q.toPrecision(6))));
    }
    const labelEvery = timeLabelStep(m.hours, x1 - x0);
    for (let h = 0; h <= m.hours; h += Math.min(labelEvery, 24)) {
      svgEl("line", { x1: X(h), x2: X(h), y1: y0, y2: y1 }, grid);
    }
    for (let h = 0; h <= m.hours; h += labelEvery) {
      const t = new Date(Date.parse(m.start) + h * 3600e3).toISOString();
      svgEl("text", { x: X(h), y: y0 + 14, "text-anchor": "middle" }, svg, t.slice(5, 10) + " " + t.slice(11, 16));
    }
    svgEl("text", { x: x1, y: y0 + 32, "text-anchor": "end" }, svg, "time, UTC (month-day hour:minute)");
    svgEl("text", { x: 14, y: (y0 + y1) / 2, transform: `rotate(-90 14 ${(y0 + y1) / 2})`, "text-anchor": "middle" }, svg, "discharge, m\u00b3/s");

    // Basin rain, hanging from the top, on its own axis at the right.
    const rainGroup = svgEl("g", { fill: "#7fa7d9", opacity: 0.75 }, svg);
    const barW = (x1 - x0) / m.hours;
    rain.forEach((r, i) => {
      if (r > 0) svgEl("rect", { x: X(i) + 0.5, y: y1, width: Math.max(1, barW - 1), height: (r / rainTop) * (y0 - y1) }, rainGroup);
    });
    const rainStep = niceStep(rainTop / 2.2, 3);
    for (let r = 0; r <= rainTop / 2.2 + 1e-9; r += rainStep) {
      const y = y1 + (r / rainTop) * (y0 - y1);
      svgEl("text", { x: x1 + 6, y: y + 4 }, svg, fmtG(Number(r.toPrecision(4))));
    }
    svgEl("text", { x: plot.width - 10, y: (y0 + y1) / 2, transform: `rotate(90 ${plot.width - 10} ${(y0 + y1) / 2})`, "text-anchor": "middle" }, svg, `basin rain of river ${river}, mm/h`);

    // Current hour, the series and its peak.
    svgEl("line", { id: "hour-marker", x1: X(state.hour - 0.5), x2: X(state.hour - 0.5), y1: y0, y2: y1, stroke: "#c0392b", "stroke-width": 1.5, "stroke-dasharray": "4 3" }, svg);
    if (fan.length > 0) drawFan(svg, fan, X, Y);
    const points = Array.from(series, (q, i) => `${X(i + 0.5).toFixed(1)},${Y(q).toFixed(1)}`).join(" ");
    svgEl("polyline", { points, fill: "none", stroke: "#1d2430", "stroke-width": 2 }, svg);
    svgEl("circle", { cx: X(peak + 0.5), cy: Y(series[peak]), r: 4, fill: "#c0392b" }, svg);
    for (const [h, v] of observed) {
      svgEl("circle", { class: "observed", cx: X(h - 0.5), cy: Y(v), r: 3, fill: "#fff", stroke: "#0b7a3b", "stroke-width": 1.5 }, svg);
    }
    svgEl("line", { x1: x0, x2: x1, y1: y0, y2: y0, stroke: "#1d2430" }, svg);
    svgEl("line", { x1: x0, x2: x0, y1: y0, y2: y1, stroke: "#1d2430" }, svg);
    // Key.
    const key = svgEl("g", { transform: `translate(${x0 - 40},${y0 + 28})` }, svg);
    svgEl("line", { x1: 0, x2: 18, y1: 0, y2: 0, stroke: "#1d2430", "stroke-width": 2 }, key);
    svgEl("text", { x: 22, y: 4 }, key, "simulated");
    svgEl("rect", { x: 82, y: -5, width: 10, height: 10, fill: "#7fa7d9", opacity: 0.75 }, key);
    svgEl("text", { x: 96, y: 4 }, key, "rain");
    if (observed.length > 0) {
      svgEl("circle", { cx: 136, cy: 0, r: 3, fill: "#fff", stroke: "#0b7a3b", "stroke-width": 1.5 }, key);
      svgEl("text", { x: 143, y: 4 }, key, `observed (${gauge.id})`);
    }
    if (fan.length > 0) {
      const fanKey = svgEl("g", { id: "fan-key", transform: `translate(${x0 - 40},${y0 + 46})` }, svg);
      svgEl("line", { x1: 0, x2: 18, y1: 0, y2: 0, stroke: FAN_COLOUR, "stroke-width": 1.5, "stroke-dasharray": "5 2" }, fanKey);
      svgEl("text", { x: 22, y: 4 }, fanKey, "Ensemble median");
      svgEl("rect", { x: 124, y: -5, width: 10, height: 10, fill: FAN_COLOUR, opacity: 0.18 }, fanKey);
      const members = m.fanMembers ? ` of ${m.fanMembers} members` : "";
      svgEl("text", { x: 138, y: 4 }, fanKey, `5-95 %${members}`);
      svgEl("rect", { x: 262, y: -5, width: 10, height: 10, fill: FAN_COLOUR, opacity: 0.38 }, fanKey);
      svgEl("text", { x: 276, y: 4 }, fanKey, "25-75 %");
    }
  }

  const FAN_COLOUR = "#7d3c98";

  /**
   * The ensemble's fan behind the simulated series: the 5-95 % band, the darker 25-75 % band
   * over it and the median, each point at the middle of its hour like the series. Each shape
   * carries the number of hours it joins (data-points).
   */
  function drawFan(svg, fan, X, Y) {
    const at = (row, k) => `${X(row[0] - 0.5).toFixed(1)},${Y(row[k]).toFixed(1)}`;
    const band = (lower, upper) => [...fan.map((row) => at(row, upper)), ...fan.slice().reverse().map((row) => at(row, lower))].join(" ");
    const group = svgEl("g", { id: "fan", "data-points": fan.length }, svg);
    svgEl("polygon", { class: "fan-outer", points: band(1, 5), fill: FAN_COLOUR, opacity: 0.18, "data-points": fan.length }, group);
    svgEl("polygon", { class: "fan-inner", points: band(2, 4), fill: FAN_COLOUR, opacity: 0.38, "data-points": fan.length }, group);
    const median = fan.map((row) => at(row, 3)).join(" ");
    svgEl("polyline", { class: "fan-median", points: median, fill: "none", stroke: FAN_COLOUR, "stroke-width": 1.5, "stroke-dasharray": "5 2", "data-points": fan.length }, group);
  }

  function updateHydrographMarker() {
    const marker = document.getElementById("hour-marker");
    if (!marker) return;
    const m = RP.meta;
    const x = plot.left + ((state.hour - 0.5) / m.hours) * (plot.width - plot.right - plot.left);
    marker.setAttribute("x1", x);
    marker.setAttribute("x2", x);
  }

  function onMapClick(ev) {
    const m = RP.meta;
    const rect = ev.currentTarget.getBoundingClientRect();
    const fx = (ev.clientX - rect.left) / rect.width;
    const fy = (ev.clientY - rect.top) / rect.height;
    let column = Math.min(m.cols, Math.max(1, Math.floor(fx * m.cols) + 1));
    let row = Math.min(m.rows, Math.max(1, m.rows - Math.floor(fy * m.rows)));
    // A click close to a gauge's marker selects the gauge.
    const cssPerCell = rect.width / m.cols;
    for (const g of m.gauges) {
      const dx = (g.column - 0.5) * cssPerCell - (ev.clientX - rect.left);
      const dy = (m.rows - g.row + 0.5) * cssPerCell - (ev.clientY - rect.top);
      if (dx * dx + dy * dy <= 64) {
        column = g.column;
        row = g.row;
      }
    }
    select(column, row).catch(report);
  }

  // ---- start -----------------------------------------------------------------------------

  function report(err) {
    $("status").textContent = `Error: ${err.message}`;
    console.error(err);
  }

  async function start() {
    const t0 = performance.now();
    const m = RP.meta;
    if (!m) throw new Error("page/meta.js is missing: run results_page again");
    document.title = `${m.title}: runoff event`;
    $("title").textContent = m.title;
    if (m.note) {
      // The case's own note (case-note.txt), under the title: e.g. that it is no real place.
      const note = document.createElement("span");
      note.id = "case-note";
      note.textContent = m.note;
      $("title").closest("h1").append(note);
    }
    const mask = await inflate(m.simulated);
    shade = await inflate(m.hillshade);
    simOrdinal = new Int32Array(mask.length);
    const cells = new Int32Array(m.simCount);
    let k = 0;
    for (let i = 0; i < mask.length; ++i) {
      if (mask[i]) {
        simOrdinal[i] = k;
        cells[k++] = i;
      } else {
        simOrdinal[i] = -1;
      }
    }
    RP.simCells = cells;
    const slider = $("hour");
    slider.max = String(m.hours);
    setupMap();
    drawLegend();
    showTime();
    await drawFrame();
    RP.firstFrameMs = performance.now() - t0;
    RP.firstFrameAt = performance.now();  // since the page began to load
    const outlet = m.outlet;
    await select(outlet.column, outlet.row);
    RP.outletRiver = state.selected.river;
    showTime();
    slider.addEventListener("input", () => setHour(Number(slider.value)));
    $("play").addEventListener("click", togglePlay);
    $("scale").addEventListener("change", (ev) => {
      state.scale = ev.target.value;
      drawLegend();
      drawFrame().catch(report);
    });
    $("overlay").addEventListener("click", onMapClick);
    document.addEventListener("keydown", (ev) => {
      if (ev.target instanceof HTMLInputElement && ev.target.type !== "range") return;
      if (ev.key === "ArrowRight") setHour(state.hour + 1);
      else if (ev.key === "ArrowLeft") setHour(state.hour - 1);
      else return;
      ev.preventDefault();
    });
    $("status").textContent =
      `${m.simCount.toLocaleString("en")} simulated cells of ${m.cols} \u00d7 ${m.rows}, ` +
      `${m.hours} hours from ${hourEnd(0)}` +
      (m.gauges.length ? `, ${m.gauges.length} gauges` : "") +
      `. Arrow keys step through the hours.`;
    document.body.dataset.ready = "1";
    // The other hours of the shown scale load in the background, one after another.
    for (let h = 1; h <= m.hours; ++h) await frame(state.scale, h);
  }

  window.addEventListener("load", () => start().catch(report));
})();
