#!/bin/bash
# Renders a .glb (vestrel-host play ... --gltf FILE.glb --with-source) to a
# PNG with three.js in headless Chromium: the source's clip stopped at a time,
# each trail in a colour of its own. Makes the pictures in docs/import.md.
#   scripts/render-glb.sh FILE.glb CLIP SECONDS OUT.png
# Needs chromium and the 3-D page's pinned three.js, which the build installs.
set -euo pipefail
glb=$(realpath "$1") clip=$2 seconds=$3 out=$(realpath -m "$4")
three="${VESTREL_THREE:-${XDG_CACHE_HOME:-$HOME/.cache}/vestrel/html-page/node_modules/three}"
page=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$page"' EXIT
cp "$glb" "$page/scene.glb"
cat > "$page/index.html" <<HTML
<!doctype html><html><body style="margin:0;background:#fff">
<script type="importmap">{"imports":{"three":"/three/build/three.module.js","three/addons/":"/three/examples/jsm/"}}</script>
<script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
renderer.setSize(900, 560);
renderer.setClearColor(0xffffff);
document.body.appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.add(new THREE.HemisphereLight(0xffffff, 0x666666, 3));
const camera = new THREE.PerspectiveCamera(35, 900 / 560, 0.01, 1e6);
new GLTFLoader().load('scene.glb', (gltf) => {
  scene.add(gltf.scene);
  const colours = [0xdd2233, 0x2457c5, 0xb35c00, 0x7b3fb5, 0x0a8a8a, 0xc2185b];
  let n = 0;
  gltf.scene.traverse((o) => {
    if (o.isLine || o.isLineSegments) o.material = new THREE.LineBasicMaterial({ color: colours[n++ % colours.length] });
  });
  const clip = gltf.animations.find((c) => c.name === '$clip') || gltf.animations[0];
  if (clip) {
    const mixer = new THREE.AnimationMixer(gltf.scene);
    const action = mixer.clipAction(clip);
    action.setLoop(THREE.LoopOnce);
    action.clampWhenFinished = true;
    action.play();
    mixer.setTime($seconds);
  }
  const box = new THREE.Box3().setFromObject(gltf.scene);
  const centre = box.getCenter(new THREE.Vector3()), size = box.getSize(new THREE.Vector3()).length();
  camera.position.set(centre.x + 1.1 * size, centre.y + 0.4 * size, centre.z + 0.8 * size);
  camera.lookAt(centre);
  renderer.render(scene, camera);
});
</script></body></html>
HTML
cat > "$page/serve.mjs" <<JS
import http from 'http'; import fs from 'fs'; import path from 'path';
http.createServer((request, response) => {
  const url = decodeURIComponent(request.url.split('?')[0]);
  const file = url.startsWith('/three/') ? path.join('$three', url.slice(7))
                                         : path.join('$page', url === '/' ? 'index.html' : url);
  fs.readFile(file, (error, bytes) => {
    if (error) { response.writeHead(404); response.end(); return; }
    response.writeHead(200, { 'Content-Type': file.endsWith('.js') ? 'text/javascript'
                                            : file.endsWith('.html') ? 'text/html' : 'application/octet-stream' });
    response.end(bytes);
  });
}).listen(8765, '127.0.0.1');
JS
node "$page/serve.mjs" & server=$!
sleep 1
chromium --headless=new --no-sandbox --use-angle=swiftshader --enable-unsafe-swiftshader \
  --timeout=20000 --window-size=900,560 --screenshot="$out" http://127.0.0.1:8765/ 2>/dev/null
echo "wrote $out"
