#!/usr/bin/env node
// Checks the ad-hoc code signature of arm64 Mach-O executables, thin or
// universal: every page hash of the signature's code directory must match
// the file as it is now. macOS on Apple silicon kills a program whose
// signature does not match, so a change to the file after linking (such as
// stripping it) must be followed by signing it again.
//
// Usage: check-code-signature.mjs <file>...   Exit status 1 on the first
// mismatch or missing signature, with a line saying which.
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';

const FAT_MAGIC = 0xcafebabe;
const MH_MAGIC_64 = 0xfeedfacf;
const CPU_TYPE_ARM64 = 0x0100000c;
const LC_CODE_SIGNATURE = 0x1d;
const CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0;
const CSMAGIC_CODEDIRECTORY = 0xfade0c02;
const HASH_SHA256 = 2;

// The arm64 slices of `file`: [offset, size] within it.
function arm64Slices(file) {
  if (file.readUInt32BE(0) === FAT_MAGIC) {
    const slices = [];
    for (let i = 0, n = file.readUInt32BE(4); i < n; ++i) {
      const entry = 8 + i * 20;
      if (file.readUInt32BE(entry) === CPU_TYPE_ARM64) {
        slices.push([file.readUInt32BE(entry + 8), file.readUInt32BE(entry + 12)]);
      }
    }
    return slices;
  }
  if (file.readUInt32LE(0) === MH_MAGIC_64 && file.readUInt32LE(4) === CPU_TYPE_ARM64) {
    return [[0, file.length]];
  }
  return [];
}

// What is wrong with the signature of one thin arm64 image, or null.
function signatureFault(image) {
  const commands = image.readUInt32LE(16);
  let at = 32;
  let blob = null;
  for (let i = 0; i < commands; ++i) {
    const cmd = image.readUInt32LE(at);
    if (cmd === LC_CODE_SIGNATURE) {
      blob = image.subarray(image.readUInt32LE(at + 8),
                            image.readUInt32LE(at + 8) + image.readUInt32LE(at + 12));
    }
    at += image.readUInt32LE(at + 4);
  }
  if (blob === null) return 'no code signature';
  if (blob.readUInt32BE(0) !== CSMAGIC_EMBEDDED_SIGNATURE) return 'no embedded signature blob';
  for (let i = 0, n = blob.readUInt32BE(8); i < n; ++i) {
    const offset = blob.readUInt32BE(12 + i * 8 + 4);
    const directory = blob.subarray(offset);
    if (directory.readUInt32BE(0) !== CSMAGIC_CODEDIRECTORY) continue;
    const hashOffset = directory.readUInt32BE(16);
    const codeSlots = directory.readUInt32BE(28);
    const codeLimit = directory.readUInt32BE(32);
    const hashSize = directory[36];
    const hashType = directory[37];
    const pageSize = 2 ** directory[39];
    if (hashType !== HASH_SHA256) return `hash type ${hashType}, not SHA-256`;
    if (Math.ceil(codeLimit / pageSize) !== codeSlots) return 'page count does not cover the code';
    for (let page = 0; page < codeSlots; ++page) {
      const start = page * pageSize;
      const actual = createHash('sha256')
        .update(image.subarray(start, Math.min(start + pageSize, codeLimit)))
        .digest();
      const stored = directory.subarray(hashOffset + page * hashSize,
                                        hashOffset + (page + 1) * hashSize);
      if (!actual.equals(stored)) return `page ${page} does not match its hash`;
    }
    return null;
  }
  return 'no code directory';
}

let failed = false;
for (const path of process.argv.slice(2)) {
  const file = readFileSync(path);
  const slices = arm64Slices(file);
  if (slices.length === 0) {
    console.log(`${path}: no arm64 image`);
    failed = true;
  }
  for (const [offset, size] of slices) {
    const fault = signatureFault(file.subarray(offset, offset + size));
    if (fault !== null) {
      console.log(`${path}: arm64 code signature: ${fault}`);
      failed = true;
    }
  }
}
process.exit(failed ? 1 : 0);
