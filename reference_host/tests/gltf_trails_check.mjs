// Loads the trails vestrel-host wrote with three.js (an everyday glTF client,
// independent of the host) beside the animation they were traced from, plays
// the source's clip to each point's frame and measures how far the point is
// from the node it traced. Prints one JSON line per trail and exits 1 when a
// trail is off its node by more than the bound, relative to its path's span.
//   node gltf_trails_check.mjs THREE_FOLDER TRAILS.glb|.gltf SOURCE|- BOUND
// SOURCE is a .glb, .gltf or .bvh file; "-" when TRAILS holds the source too.
import fs from 'fs';
import path from 'path';
import { pathToFileURL } from 'url';

const [threeFolder, trailsFile, sourceFile, boundText] = process.argv.slice(2);
const bound = Number(boundText);
const module = (relative) => import(pathToFileURL(path.join(threeFolder, relative)).href);
const THREE = await module('build/three.module.js');
const { GLTFLoader } = await module('examples/jsm/loaders/GLTFLoader.js');
const { BVHLoader } = await module('examples/jsm/loaders/BVHLoader.js');

// A data: URI goes through three.js's file loader, which reports progress
// with the browser's event class.
globalThis.ProgressEvent ??= class ProgressEvent {
  constructor(type, init = {}) { Object.assign(this, init, { type }); }
};
// Textures cannot be decoded without a browser, and a trail needs none.
console.error = () => {};
console.warn = () => {};

function arrayBuffer(file) {
  const bytes = fs.readFileSync(file);
  return bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
}

function loadGltf(file) {
  const loader = new GLTFLoader();
  loader.register(() => ({ name: 'vestrel_no_textures', loadTexture: async () => new THREE.Texture() }));
  return new Promise((resolve, reject) =>
    loader.parse(arrayBuffer(file), path.dirname(file) + '/', resolve, reject));
}

// The source as a root object, its clips, and a way to find a node by name.
async function loadSource(file, gltf) {
  if (file.toLowerCase().endsWith('.bvh')) {
    const bvh = new BVHLoader().parse(fs.readFileSync(file, 'utf8'));
    const root = new THREE.Group();
    root.add(bvh.skeleton.bones[0]);
    return { root, clips: [bvh.clip], find: (name) => root.getObjectByName(name) };
  }
  const source = gltf ?? (await loadGltf(file));
  const find = (name) => source.scene.getObjectByName(THREE.PropertyBinding.sanitizeNodeName(name));
  return { root: source.scene, clips: source.animations, find };
}

const trails = await loadGltf(trailsFile);
const source = await loadSource(sourceFile === '-' ? trailsFile : sourceFile,
                                sourceFile === '-' ? trails : null);
let failed = false;
const lines = [];
trails.scene.traverse((object) => { if (object.isLine || object.isLineSegments) lines.push(object); });
for (const line of lines) {
  // The trail's node carries its provenance; three.js puts extras in userData.
  let holder = line;
  while (holder && !holder.userData.node) holder = holder.parent;
  if (!holder) continue;
  const info = holder.userData;
  const clip = source.clips.length === 1 ? source.clips[0]
                                         : source.clips.find((c) => c.name === info.animation);
  const node = source.find(info.node);
  if (!clip || !node) {
    console.log(JSON.stringify({ trail: info.node, error: 'no such clip or node in the source' }));
    failed = true;
    continue;
  }
  const mixer = new THREE.AnimationMixer(source.root);
  // Played once and held at its end: a looping action wraps its last key's
  // time round to the first.
  const action = mixer.clipAction(clip);
  action.setLoop(THREE.LoopOnce, 1);
  action.clampWhenFinished = true;
  action.play();
  trails.scene.updateMatrixWorld(true);
  const positions = line.geometry.getAttribute('position');
  const frames = line.geometry.getAttribute('_frame');
  const box = new THREE.Box3();
  let worst = 0;
  const point = new THREE.Vector3(), traced = new THREE.Vector3();
  for (let i = 0; i < positions.count; ++i) {
    point.fromBufferAttribute(positions, i).applyMatrix4(line.matrixWorld);
    box.expandByPoint(point);
    mixer.setTime(frames.getX(i) / info.fps);
    source.root.updateMatrixWorld(true);
    node.getWorldPosition(traced);
    worst = Math.max(worst, point.distanceTo(traced));
    if (process.env.VHOST_TRAILS_DEBUG && i < 3) console.log(i, frames.getX(i), point.toArray(), traced.toArray());
  }
  const span = box.getSize(new THREE.Vector3()).length();
  const relative = span > 0 ? worst / span : worst;
  if (!(relative <= bound)) failed = true;
  console.log(JSON.stringify({ trail: info.node, points: positions.count, worst, span, relative }));
}
if (lines.length === 0) {
  console.log(JSON.stringify({ error: 'no trail in ' + trailsFile }));
  failed = true;
}
process.exit(failed ? 1 : 0);
