// Checks our Sparkplug B schema against the Eclipse reference decoder (npm sparkplug-payload):
// every message has the same fields, and each field, set alone, crosses from our schema to the
// reference and back with its name and value intact, which holds only when numbers and wire
// types agree. The DataType codes must agree too.
// Usage: node schema_check.js PATH/sparkplug_b.proto   (exit 0 when they agree)
'use strict';
const protobuf = require('protobufjs');
const reference = require('sparkplug-payload/lib/sparkplugPayloadProto').org.eclipse.tahu.protobuf;

const ours = protobuf.loadSync(process.argv[2]).lookup('sparkplug_b');
const failures = [];
const fail = (text) => failures.push(text);

function sampleValue(field) {
  switch (field.type) {
    case 'uint32': return 3000000001;
    case 'uint64': return '18000000000000000001';  // past 2^63: a signed type reads it negative
    case 'float': return 1.5;
    case 'double': return -2.25;
    case 'bool': return true;
    case 'string': return 'text-' + field.name;
    case 'bytes': return Buffer.from([1, 2, 3, 250]);
    default: return {};  // a message: present and empty
  }
}

function normalise(value) {
  if (value === undefined || value === null) return value;
  if (Buffer.isBuffer(value) || value instanceof Uint8Array) return Array.from(value).join(',');
  if (typeof value === 'object' && typeof value.toString === 'function' && value.low !== undefined) {
    return value.toString();
  }
  if (Array.isArray(value)) return value.map(normalise);
  if (typeof value === 'object') return JSON.stringify(value);
  return String(value);
}

const objectOptions = { longs: String, bytes: Array, defaults: false, oneofs: false };

function referenceType(fullName) {
  let node = reference;
  for (const part of fullName.replace(/^\.?sparkplug_b\./, '').split('.')) {
    node = node && node[part];
  }
  return node;
}

function checkMessage(type) {
  const ref = referenceType(type.fullName);
  if (!ref || typeof ref.decode !== 'function') {
    fail(`${type.fullName}: no such message in the reference`);
    return;
  }
  const oneofNames = new Set(type.oneofsArray.map((o) => o.name));
  const refFields = Object.getOwnPropertyNames(ref.prototype).filter(
    (name) => name !== 'constructor' && typeof ref.prototype[name] !== 'function' && !oneofNames.has(name));
  const ourFields = type.fieldsArray.map((f) => f.name);
  for (const name of refFields) {
    if (!type.fields[name]) fail(`${type.fullName}: the reference has field ${name}, ours has not`);
  }
  for (const field of type.fieldsArray) {
    field.resolve();
    if (!refFields.includes(field.name)) {
      fail(`${type.fullName}: our field ${field.name} is not in the reference`);
      continue;
    }
    const one = sampleValue(field);
    const value = field.repeated ? [one, one] : one;
    const ourMessage = type.fromObject({ [field.name]: value });
    const bytes = type.encode(ourMessage).finish();
    // Ours to the reference.
    let decoded;
    try {
      decoded = ref.toObject(ref.decode(bytes), objectOptions);
    } catch (e) {
      fail(`${type.fullName}.${field.name}: the reference cannot decode it: ${e.message}`);
      continue;
    }
    const expected = type.toObject(ourMessage, objectOptions)[field.name];
    if (decoded[field.name] !== undefined && typeof decoded[field.name] !== typeof expected) {
      fail(`${type.fullName}.${field.name}: the reference reads a ${typeof decoded[field.name]}, ours writes a ${typeof expected} (types differ)`);
    } else if (normalise(decoded[field.name]) === undefined) {
      fail(`${type.fullName}.${field.name}: the reference decodes it as another field (${JSON.stringify(Object.keys(decoded))})`);
    } else if (JSON.stringify(normalise(decoded[field.name])) !== JSON.stringify(normalise(expected))) {
      fail(`${type.fullName}.${field.name}: sent ${JSON.stringify(normalise(expected))}, the reference read ${JSON.stringify(normalise(decoded[field.name]))}`);
    }
    // The reference to ours.
    const back = type.toObject(type.decode(ref.encode(ref.fromObject({ [field.name]: value })).finish()), objectOptions);
    if (JSON.stringify(normalise(back[field.name])) !== JSON.stringify(normalise(expected))) {
      fail(`${type.fullName}.${field.name}: the reference sent ${JSON.stringify(normalise(expected))}, ours read ${JSON.stringify(normalise(back[field.name]))}`);
    }
  }
  if (ourFields.length === 0 && refFields.length !== 0) fail(`${type.fullName}: no fields in ours`);
  for (const nested of type.nestedArray) {
    if (nested instanceof protobuf.Type) checkMessage(nested);
  }
}

let messages = 0;
for (const nested of ours.nestedArray) {
  if (nested instanceof protobuf.Type) {
    checkMessage(nested);
    messages++;
  }
}
const ourTypes = ours.lookupEnum('DataType').values;
const refTypes = reference.DataType;
for (const [name, code] of Object.entries(refTypes)) {
  if (ourTypes[name] !== code) fail(`DataType ${name}: reference ${code}, ours ${ourTypes[name]}`);
}
for (const [name, code] of Object.entries(ourTypes)) {
  if (refTypes[name] !== code) fail(`DataType ${name}: ours ${code}, reference ${refTypes[name]}`);
}
if (messages === 0) fail('no messages in our schema');

for (const text of failures) console.log('FAIL ' + text);
console.log(failures.length === 0 ? 'PASS the schema agrees with the reference decoder' : `${failures.length} differences`);
process.exit(failures.length === 0 ? 0 : 1);
