// The 3-D view of a vestrel-host page. The page carries its data as JSON in
// <script id="vestrel-data">; this script (bundled with three.js into the
// page at build time, so the page needs no network and no server) draws each
// instance's trail, stored points and sampled path, and, when the page holds
// the source model, plays its clip beside them.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';
import { LineMaterial } from 'three/examples/jsm/lines/LineMaterial.js';
import { LineSegments2 } from 'three/examples/jsm/lines/LineSegments2.js';
import { LineSegmentsGeometry } from 'three/examples/jsm/lines/LineSegmentsGeometry.js';

const COLOURS = ['#d62728', '#1f77b4', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b', '#e377c2', '#17becf'];
const HOVER_PIXELS = 8;

function bytesOf(base64) {
  const text = atob(base64 || '');
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  return bytes;
}

// Little-endian float32 triples (or quadruples), as the glTF file holds them.
function floatsOf(base64) {
  const bytes = bytesOf(base64);
  return new Float32Array(bytes.buffer, 0, bytes.length >> 2);
}

function element(tag, attributes, text) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// 1, 2 or 5 times a power of ten, near a tenth of the span.
function gridStep(span) {
  const rough = span / 10;
  const power = Math.pow(10, Math.floor(Math.log10(rough)));
  for (const factor of [1, 2, 5, 10]) if (power * factor >= rough) return power * factor;
  return power * 10;
}

function label(text, colour, height) {
  const canvas = document.createElement('canvas');
  const context = canvas.getContext('2d');
  context.font = '48px sans-serif';
  canvas.width = Math.ceil(context.measureText(text).width) + 16;
  canvas.height = 64;
  context.font = '48px sans-serif';
  context.fillStyle = colour;
  context.textBaseline = 'middle';
  context.fillText(text, 8, 32);
  const texture = new THREE.CanvasTexture(canvas);
  texture.colorSpace = THREE.SRGBColorSpace;
  const sprite = new THREE.Sprite(new THREE.SpriteMaterial({ map: texture, depthTest: false }));
  sprite.scale.set((height * canvas.width) / canvas.height, height, 1);
  return sprite;
}

function dotTexture() {
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 32;
  const context = canvas.getContext('2d');
  context.beginPath();
  context.arc(16, 16, 14, 0, 2 * Math.PI);
  context.fillStyle = '#fff';
  context.fill();
  return new THREE.CanvasTexture(canvas);
}

// The frame's position on a path given as xyz + frames, sorted by frame:
// between two samples, the straight line between them.
function positionAtFrame(xyz, frames, frame) {
  const n = frames.length;
  if (n === 0) return null;
  if (frame <= frames[0]) return new THREE.Vector3(xyz[0], xyz[1], xyz[2]);
  if (frame >= frames[n - 1]) return new THREE.Vector3(xyz[3 * n - 3], xyz[3 * n - 2], xyz[3 * n - 1]);
  let low = 0, high = n - 1;
  while (high - low > 1) {
    const middle = (low + high) >> 1;
    if (frames[middle] <= frame) low = middle; else high = middle;
  }
  const t = (frame - frames[low]) / (frames[high] - frames[low] || 1);
  const a = new THREE.Vector3(xyz[3 * low], xyz[3 * low + 1], xyz[3 * low + 2]);
  const b = new THREE.Vector3(xyz[3 * high], xyz[3 * high + 1], xyz[3 * high + 2]);
  return a.lerp(b, t);
}

class Page {
  constructor(data) {
    this.data = data;
    this.instances = [];
    this.bounds = new THREE.Box3();
    this.frame = 0;
    this.playing = false;
    this.scene = new THREE.Scene();
    this.scene.background = new THREE.Color('#ffffff');
    this.up = data.up === 'y' ? new THREE.Vector3(0, 1, 0) : new THREE.Vector3(0, 0, 1);
  }

  async build() {
    const view = document.getElementById('view');
    this.renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
    this.renderer.setPixelRatio(window.devicePixelRatio || 1);
    view.appendChild(this.renderer.domElement);
    this.camera = new THREE.PerspectiveCamera(45, 1, 0.001, 1000);
    this.camera.up.copy(this.up);
    this.scene.add(new THREE.HemisphereLight('#ffffff', '#888888', 2.5));
    const sun = new THREE.DirectionalLight('#ffffff', 1.5);
    sun.position.set(1, 2, 3);
    this.scene.add(sun);

    this.dot = dotTexture();
    this.data.instances.forEach((instance, i) => this.addInstance(instance, COLOURS[i % COLOURS.length]));
    if (this.data.glb) await this.addModel();
    if (this.bounds.isEmpty()) this.bounds.expandByPoint(new THREE.Vector3());
    this.addGridAndAxes();
    this.frameRange();
    this.placeCamera();
    if (this.model) this.drawTrailsOverModel();
    this.controls = new OrbitControls(this.camera, this.renderer.domElement);
    this.controls.target.copy(this.centre);
    this.controls.update();
    this.controls.addEventListener('change', () => this.render());
    this.buildLegend();
    this.buildControls();
    this.watchPointer();
    window.addEventListener('resize', () => this.resize());
    this.resize();
    this.setFrame(this.firstFrame);
  }

  addInstance(instance, colour) {
    const group = new THREE.Group();
    group.name = 'instance:' + instance.name;
    const record = { data: instance, colour, group };

    // The trail: the glTF file's vertex list and segments, drawn 3 pixels wide.
    record.trailPoints = floatsOf(instance.line);
    record.trailSegments = new Uint32Array(bytesOf(instance.segments).buffer);
    const segments = record.trailSegments, line = record.trailPoints;
    if (segments.length >= 2) {
      const pairs = new Float32Array(segments.length * 3);
      for (let i = 0; i < segments.length; ++i) pairs.set(line.subarray(3 * segments[i], 3 * segments[i] + 3), 3 * i);
      const geometry = new LineSegmentsGeometry();
      geometry.setPositions(pairs);
      record.trail = new LineSegments2(geometry, new LineMaterial({ color: colour, linewidth: 3 }));
      record.trail.name = 'trail:' + instance.name;
      record.trail.userData.kind = 'trail';
      group.add(record.trail);
      this.bounds.union(new THREE.Box3().setFromArray(pairs));
    }

    // Stored points: x, y, z, frame.
    const stored = floatsOf(instance.points);
    record.storedXyz = new Float32Array(stored.length / 4 * 3);
    record.storedFrames = new Float32Array(stored.length / 4);
    for (let i = 0; i < record.storedFrames.length; ++i) {
      record.storedXyz.set(stored.subarray(4 * i, 4 * i + 3), 3 * i);
      record.storedFrames[i] = stored[4 * i + 3];
    }
    if (record.storedFrames.length > 0) {
      const geometry = new THREE.BufferGeometry();
      geometry.setAttribute('position', new THREE.BufferAttribute(record.storedXyz, 3));
      record.points = new THREE.Points(geometry, new THREE.PointsMaterial({
        color: colour, size: 6, sizeAttenuation: false, map: this.dot, alphaTest: 0.5 }));
      record.points.name = 'points:' + instance.name;
      group.add(record.points);
      geometry.computeBoundingBox();
      this.bounds.union(geometry.boundingBox);
    }

    // The sampled path: fainter, dashed, switchable.
    record.sampleXyz = floatsOf(instance.samples);
    record.sampleFrames = floatsOf(instance.sampleFrames);
    if (record.sampleFrames.length > 0) {
      const geometry = new THREE.BufferGeometry();
      geometry.setAttribute('position', new THREE.BufferAttribute(record.sampleXyz, 3));
      record.sampled = new THREE.Line(geometry, new THREE.LineDashedMaterial({
        color: colour, transparent: true, opacity: 0.45, dashSize: 1, gapSize: 1 }));
      record.sampled.name = 'sampled:' + instance.name;
      group.add(record.sampled);
      geometry.computeBoundingBox();
      this.bounds.union(geometry.boundingBox);
    }
    this.instances.push(record);
    this.scene.add(group);
  }

  async addModel() {
    const bytes = bytesOf(this.data.glb);
    const gltf = await new GLTFLoader().parseAsync(bytes.buffer, '');
    this.model = gltf.scene;
    // The trails the file carries (lines and points with a source's
    // provenance in their extras) are drawn from the page's own data.
    const hidden = new Set(this.data.glbTrailNodes || []);
    this.model.traverse((node) => {
      const trail = (node.isLine || node.isPoints) &&
          (node.userData.source_file !== undefined || hidden.has(node.name));
      if (trail) node.visible = false;
    });
    this.scene.add(this.model);
    const clip = gltf.animations.find((a) => a.name === this.data.clip) ||
        gltf.animations[this.data.clipIndex || 0];
    if (clip) {
      this.mixer = new THREE.AnimationMixer(this.model);
      this.mixer.clipAction(clip).play();
    }
    this.model.updateMatrixWorld(true);
    this.bounds.union(new THREE.Box3().setFromObject(this.model));
  }

  // The trails run inside the model (a joint's path through its limb): they
  // are drawn over it, as a motion path is over the motion.
  drawTrailsOverModel() {
    for (const record of this.instances) {
      record.group.traverse((node) => {
        if (!node.material) return;
        node.material.depthTest = false;
        node.renderOrder = node === record.marker ? 12 : 10;
      });
    }
  }

  addGridAndAxes() {
    const size = this.bounds.getSize(new THREE.Vector3());
    this.span = Math.max(size.x, size.y, size.z) || 1;
    this.centre = this.bounds.getCenter(new THREE.Vector3());
    this.step = gridStep(this.span);
    // The grid spans the path across (the two axes that are not up), plus a margin.
    const across = this.data.up === 'y' ? Math.max(size.x, size.z) : Math.max(size.x, size.y);
    const cells = 2 * Math.max(2, Math.ceil((0.75 * across) / this.step + 1));
    const grid = new THREE.GridHelper(cells * this.step, cells, '#cccccc', '#cccccc');
    grid.name = 'grid';
    const snap = (v) => Math.round(v / this.step) * this.step;
    if (this.data.up === 'y') {
      grid.position.set(snap(this.centre.x), Math.min(0, this.bounds.min.y), snap(this.centre.z));
    } else {
      grid.rotation.x = Math.PI / 2;
      grid.position.set(snap(this.centre.x), snap(this.centre.y), Math.min(0, this.bounds.min.z));
    }
    this.scene.add(grid);

    const length = 2 * this.step;
    const axes = new THREE.AxesHelper(length);
    axes.name = 'axes';
    this.scene.add(axes);
    const height = 0.4 * this.step;
    const names = ['x', 'y', 'z'];
    const colours = ['#c00000', '#008000', '#0000c0'];
    names.forEach((name, k) => {
      const isUp = (this.data.up === 'y' && k === 1) || (this.data.up !== 'y' && k === 2);
      const sprite = label(isUp ? name + ' (up)' : name, colours[k], height);
      const at = new THREE.Vector3();
      at.setComponent(k, length * 1.15);
      sprite.position.copy(at);
      this.scene.add(sprite);
    });
  }

  placeCamera() {
    const side = new THREE.Vector3(1, -1.6, 0.9);  // z up: from the front right, above
    const direction = this.data.up === 'y' ? new THREE.Vector3(side.x, side.z, -side.y) : side;
    direction.normalize();
    const distance = (this.span * 0.7) / Math.tan(THREE.MathUtils.degToRad(this.camera.fov / 2));
    this.camera.position.copy(this.centre).addScaledVector(direction, distance);
    this.camera.near = distance / 1000;
    this.camera.far = distance * 100;
    this.camera.updateProjectionMatrix();
    this.camera.lookAt(this.centre);
    // Dashes a hundredth of the span long.
    for (const record of this.instances) {
      if (!record.sampled) continue;
      record.sampled.computeLineDistances();
      record.sampled.material.dashSize = this.span / 100;
      record.sampled.material.gapSize = this.span / 150;
    }
    // Markers and first-point marks, sized by the span.
    const radius = this.span / 80;
    for (const record of this.instances) {
      if (record.storedFrames.length > 0) {
        const first = new THREE.Mesh(new THREE.SphereGeometry(radius * 1.2, 20, 12),
            new THREE.MeshBasicMaterial({ color: record.colour, wireframe: true }));
        first.position.fromArray(record.storedXyz, 0);
        first.name = 'first:' + record.data.name;
        record.group.add(first);
      }
      record.marker = new THREE.Mesh(new THREE.SphereGeometry(radius, 20, 12),
          new THREE.MeshLambertMaterial({ color: record.colour }));
      record.marker.name = 'marker:' + record.data.name;
      record.group.add(record.marker);
    }
  }

  frameRange() {
    let first = Infinity, last = -Infinity;
    for (const record of this.instances) {
      const frames = record.sampleFrames.length > 0 ? record.sampleFrames : record.storedFrames;
      if (frames.length === 0) continue;
      first = Math.min(first, frames[0]);
      last = Math.max(last, frames[frames.length - 1]);
    }
    if (!isFinite(first)) first = last = 0;
    this.firstFrame = first;
    this.lastFrame = last;
  }

  // Moves the model (its clip at the frame's time) and each marker to the frame.
  setFrame(frame) {
    this.frame = Math.min(this.lastFrame, Math.max(this.firstFrame, frame));
    if (this.mixer) {
      const seconds = (this.frame - (this.data.frameAtZero || 0)) / (this.data.fps || 24);
      this.mixer.setTime(seconds);
      this.model.updateMatrixWorld(true);
    }
    for (const record of this.instances) {
      const useSamples = record.sampleFrames.length > 0;
      const at = useSamples ?
          positionAtFrame(record.sampleXyz, record.sampleFrames, this.frame) :
          positionAtFrame(record.storedXyz, record.storedFrames, this.frame);
      record.marker.visible = at !== null;
      if (at) record.marker.position.copy(at);
    }
    if (this.slider) {
      this.slider.value = String(this.frame);
      this.frameText.textContent = 'frame ' + Math.round(this.frame * 1000) / 1000;
    }
    this.render();
  }

  render() {
    this.renderer.render(this.scene, this.camera);
  }

  resize() {
    const view = document.getElementById('view');
    const width = view.clientWidth || window.innerWidth, height = view.clientHeight || window.innerHeight;
    this.renderer.setSize(width, height);
    for (const record of this.instances) if (record.trail) record.trail.material.resolution.set(width, height);
    this.camera.aspect = width / height;
    this.camera.updateProjectionMatrix();
    this.render();
  }

  buildLegend() {
    const d = this.data;
    const legend = document.getElementById('legend');
    legend.appendChild(element('h1', {}, d.scene));
    const facts = element('dl');
    const fact = (name, value) => {
      if (value === undefined || value === null || value === '') return;
      facts.appendChild(element('dt', {}, name));
      facts.appendChild(element('dd', {}, String(value)));
    };
    fact('source', d.source);
    fact('tolerance', d.tolerance !== undefined ? d.tolerance + '°' : undefined);
    fact('axes', (d.up === 'y' ? 'y' : 'z') + ' up; grid squares of ' + this.step + ' ' + (d.units || 'scene units'));
    legend.appendChild(facts);
    const list = element('ul', { class: 'instances' });
    for (const record of this.instances) {
      const i = record.data;
      const item = element('li');
      item.appendChild(element('span', { class: 'swatch', style: 'background:' + record.colour }));
      item.appendChild(element('b', {}, i.name));
      const lines = [];
      if (i.node) lines.push('node ' + i.node);
      if (i.clip) lines.push('clip ' + i.clip);
      lines.push(i.framesSampled + ' frames sampled, ' + i.pointsStored + ' points stored');
      for (const note of i.thinned || []) lines.push(note);
      for (const line of lines) item.appendChild(element('div', {}, line));
      list.appendChild(item);
    }
    legend.appendChild(list);
    legend.appendChild(element('div', { class: 'key' },
        'line: the trail; dots: stored points; ring: the first point; dashed: the sampled path'));
    if (d.attribution) legend.appendChild(element('div', { class: 'attribution' }, d.attribution));
    legend.appendChild(element('div', { class: 'credit' },
        'Drawn with three.js ' + d.three.version + ' (' + d.three.licence + ' licence), bundled into this page'));
  }

  buildControls() {
    const bar = document.getElementById('controls');
    const play = element('button', { id: 'play' }, 'play');
    play.addEventListener('click', () => this.togglePlay(play));
    this.slider = element('input', { id: 'frame', type: 'range', min: String(this.firstFrame),
        max: String(this.lastFrame), step: this.data.frameStep ? String(this.data.frameStep) : 'any' });
    this.slider.addEventListener('input', () => this.setFrame(Number(this.slider.value)));
    this.frameText = element('span', { id: 'frame-text' });
    const sampledBox = element('input', { id: 'show-sampled', type: 'checkbox' });
    sampledBox.checked = true;
    sampledBox.addEventListener('change', () => {
      for (const record of this.instances) if (record.sampled) record.sampled.visible = sampledBox.checked;
      this.render();
    });
    const sampledLabel = element('label', { for: 'show-sampled' }, ' sampled path');
    bar.append(play, this.slider, this.frameText, sampledBox, sampledLabel);
  }

  togglePlay(button) {
    this.playing = !this.playing;
    button.textContent = this.playing ? 'pause' : 'play';
    if (!this.playing) return;
    let last = performance.now();
    const fps = this.data.fps || 24;
    const tick = (now) => {
      if (!this.playing) return;
      let next = this.frame + ((now - last) / 1000) * fps;
      last = now;
      if (next > this.lastFrame) next = this.firstFrame;
      this.setFrame(next);
      requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
  }

  // The frame of the stored point or sample under the pointer, shown beside it.
  watchPointer() {
    const tip = document.getElementById('tip');
    const canvas = this.renderer.domElement;
    let pending = null;
    canvas.addEventListener('pointermove', (event) => {
      pending = event;
      requestAnimationFrame(() => {
        if (pending === null) return;
        const e = pending;
        pending = null;
        const hit = this.pointAt(e.offsetX, e.offsetY);
        if (!hit) { tip.style.display = 'none'; return; }
        tip.textContent = hit.text;
        tip.style.left = (e.clientX + 12) + 'px';
        tip.style.top = (e.clientY + 12) + 'px';
        tip.style.display = 'block';
      });
    });
    canvas.addEventListener('pointerleave', () => { tip.style.display = 'none'; });
  }

  pointAt(x, y) {
    const width = this.renderer.domElement.clientWidth, height = this.renderer.domElement.clientHeight;
    const v = new THREE.Vector3();
    let best = null, bestDistance = HOVER_PIXELS * HOVER_PIXELS;
    const look = (xyz, frames, describe) => {
      for (let i = 0; i < frames.length; ++i) {
        v.set(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]).project(this.camera);
        if (v.z > 1) continue;
        const dx = ((v.x + 1) / 2) * width - x, dy = ((1 - v.y) / 2) * height - y;
        const distance = dx * dx + dy * dy;
        if (distance < bestDistance) { bestDistance = distance; best = describe(i, frames[i]); }
      }
    };
    for (const record of this.instances) {
      const name = record.data.name;
      if (record.sampled && record.sampled.visible) {
        look(record.sampleXyz, record.sampleFrames, (i, f) => ({ text: name + ': sampled, frame ' + f }));
      }
    }
    const sampleHit = best;
    best = null;
    bestDistance = HOVER_PIXELS * HOVER_PIXELS;
    for (const record of this.instances) {
      const name = record.data.name;
      look(record.storedXyz, record.storedFrames, (i, f) => ({ text: name + ': point ' + i + ', frame ' + f }));
    }
    return best || sampleHit;  // a stored point wins over a sample under it
  }
}

async function main() {
  const data = JSON.parse(document.getElementById('vestrel-data').textContent);
  const page = new Page(data);
  window.vestrel = { page, THREE };
  try {
    await page.build();
    window.vestrel.firstPictureMs = performance.now();
    document.body.dataset.ready = 'yes';
  } catch (error) {
    document.getElementById('legend').appendChild(element('pre', { class: 'error' }, String(error)));
    document.body.dataset.ready = 'failed';
    throw error;
  }
}

main();
