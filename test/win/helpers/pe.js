'use strict';
// Reads what a PE32+ file (a .dll, .node or .exe) imports, delay-imports and exports, straight
// from its headers.
const fs = require('fs');

function readPe(file) {
  const b = fs.readFileSync(file);
  const pe = b.readUInt32LE(0x3c);
  if (b.toString('latin1', pe, pe + 4) !== 'PE\0\0') throw new Error(`${file} is not a PE file`);
  const sectionCount = b.readUInt16LE(pe + 6);
  const optional = pe + 24;
  if (b.readUInt16LE(optional) !== 0x20b) throw new Error(`${file} is not PE32+`);
  const directory = (index) => ({ rva: b.readUInt32LE(optional + 112 + index * 8), size: b.readUInt32LE(optional + 116 + index * 8) });
  const sections = [];
  for (let i = 0, at = optional + b.readUInt16LE(pe + 20); i < sectionCount; i++, at += 40) {
    sections.push({ va: b.readUInt32LE(at + 12), size: Math.max(b.readUInt32LE(at + 8), b.readUInt32LE(at + 16)), raw: b.readUInt32LE(at + 20) });
  }
  const offset = (rva) => {
    const s = sections.find((c) => rva >= c.va && rva < c.va + c.size);
    if (!s) throw new Error(`RVA ${rva} is in no section`);
    return rva - s.va + s.raw;
  };
  const cString = (rva) => {
    const start = offset(rva);
    return b.toString('latin1', start, b.indexOf(0, start));
  };
  // 64-bit thunks: an ordinal (top bit) or the RVA of a hint and a name.
  const thunkNames = (rva) => {
    const names = [];
    for (let at = offset(rva); ; at += 8) {
      const thunk = b.readBigUInt64LE(at);
      if (thunk === 0n) return names;
      names.push(thunk >> 63n ? `#${thunk & 0xffffn}` : cString(Number(thunk & 0x7fffffffn) + 2));
    }
  };

  const imports = {};
  const importDir = directory(1);
  for (let at = importDir.size ? offset(importDir.rva) : -1; at >= 0 && b.readUInt32LE(at + 12); at += 20) {
    imports[cString(b.readUInt32LE(at + 12))] = thunkNames(b.readUInt32LE(at) || b.readUInt32LE(at + 16));
  }
  // GNU ld leaves the delay-import directory entry empty, so the descriptors are found by their
  // shape: RVA attributes, then the RVAs of a DLL name, its module handle, its IAT and its INT.
  const delayImports = {};
  const inImage = (rva) => sections.some((c) => rva >= c.va && rva < c.va + c.size);
  for (const section of sections) {
    for (let at = section.raw; at + 32 <= section.raw + section.size && at + 32 <= b.length; at += 4) {
      if (b.readUInt32LE(at) !== 1) continue;
      const [name, hmod, iat, int] = [4, 8, 12, 16].map((field) => b.readUInt32LE(at + field));
      if (![name, hmod, iat, int].every(inImage)) continue;
      const dll = cString(name);
      if (!/^[\w.-]+\.(dll|exe)$/i.test(dll)) continue;
      try {
        delayImports[dll] = thunkNames(int);
      } catch {
        // not a descriptor after all
      }
    }
  }
  const exports = [];
  const exportDir = directory(0);
  if (exportDir.size) {
    const at = offset(exportDir.rva);
    const names = offset(b.readUInt32LE(at + 32));
    for (let i = 0; i < b.readUInt32LE(at + 24); i++) exports.push(cString(b.readUInt32LE(names + i * 4)));
  }
  return { imports, delayImports, exports };
}

module.exports = { readPe };
