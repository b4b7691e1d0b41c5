// Opens a page vestrel-host wrote in the system's headless Chromium (driven
// through puppeteer-core, never a browser of its own) and checks it as a
// user's browser shows it: it loads from file:// with no console error and
// no request beyond the file; its scene graph holds one trail per instance
// with the vertices of the glTF file the same run wrote; a screenshot shows
// each trail's colour at its first and last stored points; pointing at the
// first point names its frame; and, with the source model, the browser's own
// three.js puts the traced joint on its trail at each frame.
//
//   node page_test.mjs CASE --host VESTREL_HOST --examples DIR --work DIR
//        --modules NODE_MODULES [--animations DIR]
// CASE: square, helix or fox. Exits 77 (skipped) when Chromium, puppeteer-core
// or an input is missing, saying which.
import { createRequire } from 'node:module';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { inflateSync } from 'node:zlib';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const SKIP = 77;
const args = parseArguments(process.argv.slice(2));
const chromium = process.env.VESTREL_CHROMIUM || '/usr/bin/chromium';

function parseArguments(list) {
  const out = { case: list[0] };
  for (let i = 1; i < list.length; i += 2) out[list[i].replace(/^--/, '')] = list[i + 1];
  return out;
}

function skip(why) {
  console.log(`SKIPPED: ${why}`);
  process.exit(SKIP);
}

const failures = [];
function check(condition, what) {
  if (!condition) failures.push(what);
  return condition;
}

// What each case plays: the scene (or animation file), its options, and the
// instances the page must show.
function caseSetup(work) {
  switch (args.case) {
    case 'square':
      return { scene: path.join(args.examples, 'square.json'), name: 'square', options: [] };
    case 'helix': {
      // Many samples: 200,001 frames, more than the page draws one by one.
      const scene = {
        name: 'long-helix',
        frames: { first: 0, last: 200000 },
        objects: [{ name: 'Vestrel group' },
          { name: 'climber', parent: 0,
            motion: { type: 'helix', center: [0, 0, 0], radius: 4, frames_per_turn: 20000,
              rise_per_turn: 3, axis: 'z' } }],
      };
      const file = path.join(work, 'long-helix.json');
      writeFileSync(file, JSON.stringify(scene));
      return { scene: file, name: 'long-helix', options: ['--max-frames', '200001'] };
    }
    case 'fox': {
      // Four joints of the fox walking: the head, a front foot, a hind foot and the tail's tip.
      const fox = path.join(args.animations || '', 'Fox.glb');
      if (!args.animations || !existsSync(fox)) skip(`the Fox sample is not at ${fox}`);
      const nodes = ['b_Head_05', 'b_LeftHand_011', 'b_RightFoot01_021', 'b_Tail03_014'];
      return { scene: fox, name: 'Fox', nodes,
        options: [...nodes.flatMap((node) => ['--node', node]), '--animation', 'Walk'] };
    }
    default:
      console.error(`unknown case ${args.case}`);
      process.exit(2);
  }
}

// The trails of a .gltf file with an embedded buffer (one mesh each, as a run
// with one 'GENM' pass writes them): positions, segment indices and the frame
// of each vertex, as the page must hold them.
function gltfTrails(file) {
  const gltf = JSON.parse(readFileSync(file, 'utf8'));
  const buffer = Buffer.from(gltf.buffers[0].uri.split(',')[1], 'base64');
  const read = (accessorIndex, Type) => {
    const accessor = gltf.accessors[accessorIndex];
    const view = gltf.bufferViews[accessor.bufferView];
    const components = { SCALAR: 1, VEC3: 3 }[accessor.type];
    const start = (view.byteOffset || 0) + (accessor.byteOffset || 0);
    const bytes = buffer.subarray(start, start + accessor.count * components * Type.BYTES_PER_ELEMENT);
    return Array.from(new Type(new Uint8Array(bytes).buffer));
  };
  return gltf.meshes.map((mesh) => {
    const primitive = mesh.primitives[0];
    return { name: mesh.name, positions: read(primitive.attributes.POSITION, Float32Array),
      frames: read(primitive.attributes._FRAME, Float32Array),
      indices: primitive.indices !== undefined ? read(primitive.indices, Uint32Array) : [] };
  });
}

// With the source model: at several frames of each trail, the slider moves
// the model, and the traced joint's world position, as the browser's three.js
// evaluates the clip, lies on the trail's point of that frame.
async function checkJointsOnTrails(tab, setup, expected) {
  for (let i = 0; i < expected.length; ++i) {
    const want = expected[i];
    const n = want.frames.length;
    const picks = [...new Set([0, Math.floor(n / 3), Math.floor((2 * n) / 3), n - 1])];
    let lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
    for (let v = 0; v < n; ++v) for (let k = 0; k < 3; ++k) {
      lo[k] = Math.min(lo[k], want.positions[3 * v + k]);
      hi[k] = Math.max(hi[k], want.positions[3 * v + k]);
    }
    const span = Math.max(...hi.map((h, k) => h - lo[k]));
    for (const v of picks) {
      const frame = want.frames[v];
      const joint = await tab.evaluate((node, frame) => {
        const { page, THREE } = window.vestrel;
        const slider = document.getElementById('frame');
        slider.value = String(frame);
        slider.dispatchEvent(new Event('input'));
        const name = THREE.PropertyBinding.sanitizeNodeName(node);
        let found = null;
        page.model.traverse((o) => { if (!found && o.name === name && !o.isLine && !o.isPoints) found = o; });
        return found ? { at: found.getWorldPosition(new THREE.Vector3()).toArray(), frame: page.frame } : null;
      }, setup.nodes[i], frame);
      if (!check(joint !== null, `${setup.nodes[i]}: no such joint in the page's model`)) continue;
      check(joint.frame === frame, `${setup.nodes[i]}: the slider set frame ${joint.frame}, not ${frame}`);
      const point = want.positions.slice(3 * v, 3 * v + 3);
      const distance = Math.hypot(...point.map((p, k) => p - joint.at[k]));
      check(distance <= 1e-5 * span, `${setup.nodes[i]} at frame ${frame}: the joint is ${distance} from its ` +
        `trail's point (span ${span}): joint ${joint.at}, trail ${point}`);
    }
  }
}

// A PNG screenshot as RGBA rows (8-bit, non-interlaced, as Chromium writes it).
function decodePng(png) {
  let offset = 8, width = 0, height = 0, colourType = 0;
  const data = [];
  while (offset < png.length) {
    const length = png.readUInt32BE(offset);
    const type = png.toString('ascii', offset + 4, offset + 8);
    const body = png.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      colourType = body[9];
    } else if (type === 'IDAT') {
      data.push(body);
    }
    offset += 12 + length;
  }
  const channels = colourType === 6 ? 4 : 3;
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(width * height * 4);
  const previous = Buffer.alloc(stride), current = Buffer.alloc(stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? current[x - channels] : 0, b = previous[x];
      const c = x >= channels ? previous[x - channels] : 0;
      let value = line[x];
      if (filter === 1) value += a;
      else if (filter === 2) value += b;
      else if (filter === 3) value += (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        value += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      current[x] = value & 255;
    }
    for (let x = 0; x < width; ++x) {
      for (let k = 0; k < 3; ++k) pixels[4 * (y * width + x) + k] = current[x * channels + k];
      pixels[4 * (y * width + x) + 3] = 255;
    }
    current.copy(previous);
  }
  return { width, height, pixels };
}

// Whether a pixel within radius of (x, y) has the colour (#rrggbb).
function colourNear(image, x, y, colour, radius) {
  const want = [1, 3, 5].map((i) => parseInt(colour.slice(i, i + 2), 16));
  for (let dy = -radius; dy <= radius; ++dy) {
    for (let dx = -radius; dx <= radius; ++dx) {
      const px = Math.round(x) + dx, py = Math.round(y) + dy;
      if (px < 0 || py < 0 || px >= image.width || py >= image.height) continue;
      const at = 4 * (py * image.width + px);
      if (want.every((v, k) => Math.abs(image.pixels[at + k] - v) <= 24)) return true;
    }
  }
  return false;
}

async function main() {
  if (!existsSync(chromium)) skip(`no Chromium at ${chromium} (scripts/install-deps.sh installs Debian's chromium)`);
  if (!args.modules || !existsSync(path.join(args.modules, 'puppeteer-core')))
    skip(`npm's puppeteer-core is not in ${args.modules}`);
  const require = createRequire(path.join(path.resolve(args.modules), 'index.js'));
  const puppeteer = require('puppeteer-core');

  const work = path.join(args.work, args.case);
  rmSync(work, { recursive: true, force: true });
  mkdirSync(work, { recursive: true });
  const setup = caseSetup(work);
  const gltf = path.join(work, setup.name + '.gltf');
  execFileSync(args.host, ['play', setup.scene, '--out', work, '--html', '--gltf', gltf, ...setup.options],
    { stdio: ['ignore', 'ignore', 'inherit'] });
  const page = path.join(work, setup.name + '.html');

  const profile = mkdtempSync(path.join(os.tmpdir(), 'vestrel-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: profile,
    pipe: true,
    args: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox', '--disable-gpu',
      '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--disable-quic'],
  });
  try {
    const tab = await browser.newPage();
    await tab.setViewport({ width: 1200, height: 800 });
    const errors = [], requests = [];
    tab.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
    tab.on('pageerror', (error) => errors.push(String(error)));
    tab.on('request', (request) => {
      const url = request.url();
      if (!/^(file|data|blob):/.test(url)) requests.push(url);
    });
    const started = Date.now();
    await tab.goto(pathToFileURL(page).href);
    await tab.waitForSelector('body[data-ready]', { timeout: 30000 });
    const loadSeconds = (Date.now() - started) / 1000;
    check(await tab.evaluate(() => document.body.dataset.ready) === 'yes', 'the page did not finish drawing');
    check(errors.length === 0, `console errors: ${errors.join(' | ')}`);
    check(requests.length === 0, `network requests: ${requests.join(' ')}`);

    // The scene graph: one trail per instance, with the glTF file's vertices.
    // Each trail's vertex list and segments, and the segments it draws (the
    // ends of each, interleaved in its geometry).
    const trails = await tab.evaluate(() => window.vestrel.page.instances.map((record) => ({
      positions: Array.from(record.trailPoints),
      indices: Array.from(record.trailSegments),
      drawn: record.trail ? Array.from(record.trail.geometry.attributes.instanceStart.data.array) : [],
      colour: record.colour,
    })));
    const expected = gltfTrails(gltf);
    if (check(trails.length === expected.length, `${trails.length} trails on the page, ${expected.length} in the glTF file`)) {
      expected.forEach((want, i) => {
        const have = trails[i];
        check(have.positions.length === want.positions.length,
          `trail ${i}: ${have.positions.length / 3} vertices on the page, ${want.positions.length / 3} in the glTF file`);
        check(have.positions.every((v, k) => v === want.positions[k]), `trail ${i}: vertex positions differ from the glTF file`);
        check(have.indices.length === want.indices.length && have.indices.every((v, k) => v === want.indices[k]),
          `trail ${i}: segments differ from the glTF file`);
        const drawn = want.indices.flatMap((v) => want.positions.slice(3 * v, 3 * v + 3));
        check(have.drawn.length === drawn.length && have.drawn.every((v, k) => v === drawn[k]),
          `trail ${i}: the segments drawn are not the glTF file's`);
      });
    }
    if (setup.nodes) {
      check(await tab.evaluate(() => Boolean(window.vestrel.page.model)), 'the page holds no source model');
      await checkJointsOnTrails(tab, setup, expected);
      await tab.evaluate(() => window.vestrel.page.setFrame(window.vestrel.page.firstFrame));
    }
    if (args.case === 'helix') {
      const legend = await tab.$eval('#legend', (node) => node.textContent);
      check(/sampled path: every 3rd of 200001 drawn/.test(legend), `the legend does not say the path is thinned: ${legend}`);
    }

    // The screenshot shows each trail's colour at its first and last stored points.
    const ends = await tab.evaluate(() => {
      const { page, THREE } = window.vestrel;
      const canvas = page.renderer.domElement.getBoundingClientRect();
      return page.instances.map((record) => {
        const n = record.storedFrames.length;
        return [0, n - 1].map((i) => {
          const v = new THREE.Vector3().fromArray(record.storedXyz, 3 * i).project(page.camera);
          return { x: canvas.left + ((v.x + 1) / 2) * canvas.width, y: canvas.top + ((1 - v.y) / 2) * canvas.height,
            frame: record.storedFrames[i] };
        });
      });
    });
    const shot = path.join(work, setup.name + '.png');
    await tab.screenshot({ path: shot });
    const image = decodePng(readFileSync(shot));
    ends.forEach((points, i) => points.forEach((p, end) => check(colourNear(image, p.x, p.y, trails[i].colour, 3),
      `trail ${i}: no ${trails[i].colour} at the ${end ? 'last' : 'first'} stored point (${p.x.toFixed(1)}, ${p.y.toFixed(1)})`)));

    // Pointing at the first stored point names its frame.
    await tab.mouse.move(ends[0][0].x, ends[0][0].y);
    await tab.waitForFunction(() => document.getElementById('tip').style.display === 'block', { timeout: 2000 })
      .catch(() => {});
    const tip = await tab.$eval('#tip', (node) => node.textContent);
    check(tip.includes(`frame ${ends[0][0].frame}`), `pointing at the first point shows "${tip}"`);

    // The sampled path can be switched off.
    await tab.click('#show-sampled');
    const shown = await tab.evaluate(() => window.vestrel.page.instances.map((r) => r.sampled && r.sampled.visible));
    check(shown.every((visible) => !visible), 'the sampled path stays after its box is cleared');

    console.log(`${args.case}: ${page} (${readFileSync(page).length} bytes) drawn in ${loadSeconds.toFixed(2)} s; screenshot ${shot}`);
  } finally {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  }
  if (failures.length > 0) {
    for (const failure of failures) console.error(`FAILED: ${failure}`);
    process.exit(1);
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
