#!/usr/bin/env python3
# Measures whether the import reads outside a glTF file's folder while its buffer is
# flipped between a file and a link to ../secret.bin:
#   scripts/buffer-link-race.py build/default/vestrel-host 10000
# Works in /tmp/d11/run; prints how many runs read the outside file.
import os, struct, subprocess, sys, threading, json, base64
host, runs = sys.argv[1], int(sys.argv[2])
root = '/tmp/d11/run'; os.makedirs(root + '/in', exist_ok=True)
def buf(x):
    return struct.pack('<2f', 0, 1) + struct.pack('<6f', x, 0, 0, x, 0, 0)
open(root + '/secret.bin', 'wb').write(buf(777))
open(root + '/in/inside.bin', 'wb').write(buf(1))
doc = {"asset":{"version":"2.0"},"nodes":[{"name":"n"}],"buffers":[{"byteLength":32,"uri":"ok.bin"}],
 "bufferViews":[{"buffer":0,"byteLength":8},{"buffer":0,"byteOffset":8,"byteLength":24}],
 "accessors":[{"bufferView":0,"componentType":5126,"count":2,"type":"SCALAR"},{"bufferView":1,"componentType":5126,"count":2,"type":"VEC3"}],
 "animations":[{"samplers":[{"input":0,"output":1}],"channels":[{"sampler":0,"target":{"node":0,"path":"translation"}}]}]}
open(root + '/in/ok.gltf', 'w').write(json.dumps(doc))
stop = False
def flip():
    d = root + '/in'
    while not stop:
        os.link(d + '/inside.bin', d + '/reg.tmp'); os.rename(d + '/reg.tmp', d + '/ok.bin')
        os.symlink('../secret.bin', d + '/lnk.tmp'); os.rename(d + '/lnk.tmp', d + '/ok.bin')
t = threading.Thread(target=flip); t.start()
outside = inside = refused = 0
try:
    for i in range(runs):
        r = subprocess.run([host, 'import', root + '/in/ok.gltf', '--fps', '1'], capture_output=True, text=True)
        if '777' in r.stdout: outside += 1
        elif r.returncode == 0: inside += 1
        else: refused += 1
finally:
    stop = True; t.join()
print(f"{host}: {runs} runs: {outside} read the outside file, {inside} read the buffer inside, {refused} refused")
