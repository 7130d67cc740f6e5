'use strict';
// What hbtua-client prints: one JSON object per line (--json) or one text line per value.
const { DataType, NodeClass, StatusCodes } = require('node-opcua');

// A Variant's value as JSON can carry it: 64-bit integers as numbers (or decimal texts when
// beyond 2^53), dates as ISO texts, byte strings as hex, structures as their text.
function json_value(variant) {
  if (!variant || variant.value === null || variant.value === undefined) return null;
  const one = (v) => {
    switch (variant.dataType) {
      case DataType.Int64:
      case DataType.UInt64: {
        if (!Array.isArray(v)) return v;
        let big = (BigInt(v[0] >>> 0) << 32n) | BigInt(v[1] >>> 0);
        if (variant.dataType === DataType.Int64) big = BigInt.asIntN(64, big);
        return big >= BigInt(Number.MIN_SAFE_INTEGER) && big <= BigInt(Number.MAX_SAFE_INTEGER) ? Number(big) : big.toString();
      }
      case DataType.DateTime: return v instanceof Date ? v.toISOString() : v;
      case DataType.ByteString: return Buffer.isBuffer(v) ? v.toString('hex') : v;
      case DataType.Float:
      case DataType.Double: return Number.isFinite(v) ? v : String(v);
      case DataType.Boolean:
      case DataType.String:
      case DataType.SByte: case DataType.Byte: case DataType.Int16: case DataType.UInt16:
      case DataType.Int32: case DataType.UInt32:
        return v;
      default:
        return v && typeof v.toString === 'function' && typeof v !== 'number' ? v.toString() : v;
    }
  };
  if (variant.arrayType && variant.arrayType !== 0) return Array.from(variant.value, one);
  return one(variant.value);
}

function status_name(code) {
  return code && code.name ? code.name : StatusCodes.Good.name;
}

function value_record(node, nodeId, dataValue) {
  const variant = dataValue.value;
  const status = dataValue.statusCode || StatusCodes.Good;
  return {
    node,
    node_id: nodeId.toString(),
    value: json_value(variant),
    type: variant && variant.dataType !== undefined ? DataType[variant.dataType] : null,
    status: status_name(status),
    status_code: status.value >>> 0,
    source_time: dataValue.sourceTimestamp ? dataValue.sourceTimestamp.toISOString() : null,
    server_time: dataValue.serverTimestamp ? dataValue.serverTimestamp.toISOString() : null,
  };
}

function value_text(r) {
  const value = typeof r.value === 'string' ? JSON.stringify(r.value) : Array.isArray(r.value) ? `[${r.value.join(', ')}]` : String(r.value);
  return `${r.node}  ${value}  ${r.type ?? '-'}  ${r.status}${r.source_time ? `  ${r.source_time}` : ''}`;
}

function browse_record(ref, depth) {
  return {
    node_id: ref.nodeId.toString(),
    browse_name: ref.browseName.toString(),
    display_name: ref.displayName.text ?? '',
    node_class: NodeClass[ref.nodeClass],
    depth,
  };
}

function browse_text(r) {
  return `${'  '.repeat(r.depth)}${r.display_name || r.browse_name}  ${r.node_id}  ${r.node_class}`;
}

class Printer {
  constructor(json, write = (s) => process.stdout.write(s)) {
    this.json_ = json;
    this.write_ = write;
  }
  value(r, extra = {}) {
    this.write_(this.json_ ? `${JSON.stringify({ ...extra, ...r })}\n` : `${value_text(r)}\n`);
  }
  browse(r) { this.write_(this.json_ ? `${JSON.stringify(r)}\n` : `${browse_text(r)}\n`); }
  written(node, nodeId, status) {
    const r = { node, node_id: nodeId.toString(), status: status_name(status), status_code: status.value >>> 0 };
    this.write_(this.json_ ? `${JSON.stringify(r)}\n` : `${node}  ${r.status}\n`);
  }
  event(event, fields) {
    if (this.json_) this.write_(`${JSON.stringify({ event, ...fields })}\n`);
    else process.stderr.write(`hbtua-client: ${event}: ${Object.values(fields).join(' ')}\n`);
  }
}

module.exports = { Printer, json_value, value_record, browse_record, status_name };
