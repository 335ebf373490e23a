// Checks bills of materials, offline:
// - each is valid CycloneDX 1.6 JSON (the strict schema that
//   @cyclonedx/cyclonedx-library bundles), every licence expression in it
//   parses as SPDX and its dependency graph names only its components;
// - with --map, every archive and object file that the link of the program
//   took from outside the build directory is a link input (dolvin:link-input)
//   of a component, and each component gave the link at least one file.
//
//   node sbom/check.mjs [--map LINK.map --own BUILD_DIR] BOM.cdx.json...
import { readFileSync } from 'node:fs';
import { basename, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import { Spec, Validation } from '@cyclonedx/cyclonedx-library';
import parseSpdx from 'spdx-expression-parse';

const { values: options, positionals: boms } = parseArgs({
  options: { map: { type: 'string' }, own: { type: 'string' } },
  allowPositionals: true,
});
const validator = new Validation.JsonStrictValidator(Spec.Version.v1dot6);
const failures = [];

// The files that the link took, by the link map of GNU ld: the archives that
// gave a member, and the objects it loaded.
function linkInputs(map, own) {
  const text = readFileSync(map, 'utf8');
  const archives = [...text.matchAll(/^(\S+\.a)\(/gm)].map((m) => m[1]);
  const objects = [...text.matchAll(/^LOAD (\S+\.o)$/gm)].map((m) => m[1]);
  const inside = resolve(own) + '/';
  const inputs = [...archives, ...objects].map((f) => resolve(own, f));
  return new Set(inputs.filter((f) => !f.startsWith(inside)));
}

function components(bom) {
  return [bom.metadata?.component, ...(bom.components ?? [])].filter(Boolean);
}

for (const file of boms) {
  const text = readFileSync(file, 'utf8');
  const errors = await validator.validate(text);
  if (errors) {
    const where = errors.map((e) => `\n  ${e.instancePath}: ${e.message}`);
    failures.push(`${file}: not valid CycloneDX 1.6:${where.join('')}`);
    continue;
  }
  const bom = JSON.parse(text);
  for (const component of components(bom)) {
    for (const { expression } of component.licenses ?? []) {
      if (expression === undefined) continue;
      try {
        parseSpdx(expression);
      } catch (error) {
        failures.push(`${file}: ${component.name}: licence '${expression}': ${error.message}`);
      }
    }
  }
  const refs = new Set(components(bom).map((c) => c['bom-ref']));
  for (const { ref, dependsOn } of bom.dependencies ?? []) {
    for (const r of [ref, ...(dependsOn ?? [])]) {
      if (!refs.has(r)) failures.push(`${file}: the dependencies name ${r}, which is no component`);
    }
  }
  if (options.map) {
    const owners = new Map();
    for (const component of components(bom)) {
      for (const { name, value } of component.properties ?? []) {
        if (name === 'dolvin:link-input') owners.set(value, component.name);
      }
    }
    const used = new Set();
    for (const input of linkInputs(options.map, options.own)) {
      const owner = owners.get(basename(input));
      if (owner === undefined) failures.push(`${file}: the link took ${input}, of no component`);
      used.add(owner);
    }
    for (const component of bom.components ?? []) {
      if (!used.has(component.name)) {
        failures.push(`${file}: the link took nothing of ${component.name}`);
      }
    }
  }
}

for (const failure of failures) console.error(`check-sbom: ${failure}`);
if (failures.length > 0) process.exit(1);
const linked = options.map ? ', every link input a component' : '';
console.log(`check-sbom: ${boms.map((b) => basename(b)).join(', ')} valid${linked}`);
