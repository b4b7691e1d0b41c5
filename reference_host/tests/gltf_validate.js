// Checks glTF files with the Khronos glTF validator (the npm package
// gltf-validator): prints the counts of each file and exits 1 when any file
// has an error or a warning.
//   node gltf_validate.js VALIDATOR_MODULE_FOLDER FILE...
const fs = require('fs');
const validator = require(process.argv[2]);

async function main() {
  let failed = false;
  for (const file of process.argv.slice(3)) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
      uri: file,
      maxIssues: 100,
    });
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings`);
    for (const m of issues.messages) {
      if (m.severity <= 1) console.log(`  ${m.code} ${m.pointer || ''}: ${m.message}`);
    }
    if (issues.numErrors > 0 || issues.numWarnings > 0) failed = true;
  }
  process.exit(failed ? 1 : 0);
}

main().catch((error) => {
  console.error(String(error));
  process.exit(2);
});
