// Bundles viewer.js with three.js into one script (esbuild) and writes it as a
// C++ source file that vestrel-host embeds in every page it writes, with the
// version and licence of three.js.
//
//   node make_page_script.mjs NODE_MODULES VIEWER_JS OUT_CPP
import { createRequire } from 'node:module';
import { readFileSync, writeFileSync, renameSync } from 'node:fs';
import path from 'node:path';

const [modules, entry, out] = process.argv.slice(2);
if (!out) {
  console.error('usage: node make_page_script.mjs NODE_MODULES VIEWER_JS OUT_CPP');
  process.exit(2);
}
const require = createRequire(path.join(path.resolve(modules), 'index.js'));
const esbuild = require('esbuild');
const threeDir = path.join(path.resolve(modules), 'three');
const three = JSON.parse(readFileSync(path.join(threeDir, 'package.json'), 'utf8'));
const licence = readFileSync(path.join(threeDir, 'LICENSE'), 'utf8');

const result = esbuild.buildSync({
  entryPoints: [entry],
  bundle: true,
  format: 'iife',
  minify: true,
  target: 'es2020',
  legalComments: 'none',
  nodePaths: [path.resolve(modules)],
  write: false,
  logLevel: 'warning',
});
let script = result.outputFiles[0].text;
// The script goes inside <script>...</script>: no closing tag may appear in it.
script = script.replace(/<\/(script)/gi, '<\\/$1');
if (/<!--/.test(script)) script = script.replace(/<!--/g, '<\\!--');

// Pieces under 64 KiB each (the longest string literal every compiler takes),
// kept apart so no literal is longer.
function literal(text) {
  let delimiter = 'vp';
  while (text.includes(')' + delimiter + '"')) delimiter += 'x';
  return 'R"' + delimiter + '(' + text + ')' + delimiter + '"';
}
const pieces = [];
for (let i = 0; i < script.length; i += 60000) pieces.push(literal(script.slice(i, i + 60000)));

const source = `// Made by make_page_script.mjs from viewer.js and three.js ${three.version}; do not edit.
#include <string>

namespace vhost {

const char* const kPageScriptPieces[] = {
${pieces.join(',\n')}};

std::string PageScript() {
  std::string script;
  for (const char* piece : kPageScriptPieces) script += piece;
  return script;
}

extern const char kThreeVersion[] = "${three.version}";
extern const char kThreeLicenceName[] = "${three.license}";
extern const char kThreeLicenceText[] = ${literal(licence)};

}  // namespace vhost
`;
writeFileSync(out + '.tmp', source);
renameSync(out + '.tmp', out);
console.log(`page script: ${script.length} bytes (three.js ${three.version}, ${three.license})`);
