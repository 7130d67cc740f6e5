'use strict';
// hbtua-client: browse, read, write and subscribe from the shell, through the OPC UA SDK.
const fs = require('node:fs');
const { parse_arguments, parse_value, is_node_id_text, UsageError } = require('./arguments');

const kDriverUri = 'urn:hbt:driver';

class ClientError extends Error {}

function monotonic_ms() { return Number(process.hrtime.bigint()) / 1e6; }

function read_password(options, env) {
  if (!options.user) return undefined;
  if (options.passwordFile) {
    try {
      return fs.readFileSync(options.passwordFile, 'utf8').split(/\r?\n/)[0];
    } catch (err) {
      throw new ClientError(`cannot read the password file ${options.passwordFile}: ${err.message}`);
    }
  }
  if (env.HBTUA_PASSWORD !== undefined) return env.HBTUA_PASSWORD;
  throw new ClientError(`no password for ${options.user}: set HBTUA_PASSWORD or give --password-file`);
}

async function connect(sdk, options, password) {
  const { MessageSecurityMode, OPCUACertificateManager, OPCUAClient, SecurityPolicy, UserTokenType } = sdk;
  const security = {
    none: [MessageSecurityMode.None, SecurityPolicy.None],
    sign: [MessageSecurityMode.Sign, SecurityPolicy.Basic256Sha256],
    encrypt: [MessageSecurityMode.SignAndEncrypt, SecurityPolicy.Basic256Sha256],
  }[options.security];
  const clientOptions = {
    applicationName: 'hbtua-client', securityMode: security[0], securityPolicy: security[1], endpointMustExist: false,
    connectionStrategy: { maxRetry: 0, initialDelay: 200, maxDelay: 500 }, requestedSessionTimeout: 60000,
    transportTimeout: options.timeout, defaultSecureTokenLifetime: 600000, keepSessionAlive: true,
  };
  if (options.security !== 'none') {
    clientOptions.clientCertificateManager = new OPCUACertificateManager({
      rootFolder: options.pki, automaticallyAcceptUnknownCertificate: true, keySize: 2048,
    });
  }
  const client = OPCUAClient.create(clientOptions);
  // The SDK retries a refused connection forever otherwise; the client says why and ends.
  let refusal = null;
  client.on('backoff', (count) => { if (count > 0) refusal = refusal || 'the server does not answer'; });
  try {
    await with_timeout(client.connect(options.endpoint), options.timeout, `no connection to ${options.endpoint}`);
  } catch (err) {
    throw new ClientError(`cannot connect to ${options.endpoint}: ${refusal || err.message}`);
  }
  try {
    const identity = options.user ? { type: UserTokenType.UserName, userName: options.user, password } : undefined;
    const session = await with_timeout(client.createSession(identity), options.timeout, 'no session');
    return { client, session };
  } catch (err) {
    await client.disconnect().catch(() => {});
    throw new ClientError(`the server refused the session: ${err.message}`);
  }
}

function with_timeout(promise, ms, what) {
  let timer;
  return Promise.race([promise, new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} within ${ms} ms`)), ms);
  })]).finally(() => clearTimeout(timer));
}

async function resolver(sdk, session) {
  const namespaces = await session.readNamespaceArray();
  const ns = namespaces.indexOf(kDriverUri);
  return (text) => {
    if (is_node_id_text(text)) {
      try {
        return sdk.resolveNodeId(text);
      } catch {
        throw new UsageError(`'${text}' is no NodeId`);
      }
    }
    if (ns < 0) throw new ClientError(`the server has no namespace ${kDriverUri} for item ID ${text}`);
    return new sdk.NodeId(sdk.NodeIdType.STRING, text, ns);
  };
}

async function browse(sdk, session, printer, start, recursive) {
  const { BrowseDirection, NodeClass } = sdk;
  let ok = true;
  const walk = async (nodeId, depth) => {
    const result = await session.browse({
      nodeId, browseDirection: BrowseDirection.Forward, referenceTypeId: 'HierarchicalReferences',
      includeSubtypes: true, resultMask: 63,
    });
    if (result.statusCode.isNotGood()) {
      printer.event('error', { node_id: nodeId.toString(), status: result.statusCode.name });
      ok = false;
      return;
    }
    for (const ref of result.references || []) {
      printer.browse(require('./output').browse_record(ref, depth));
      if (recursive && ref.nodeClass !== NodeClass.Variable && ref.nodeClass !== NodeClass.Method) {
        await walk(ref.nodeId, depth + 1);
      }
    }
  };
  await walk(start, 0);
  return ok;
}

async function run(argv, env = process.env) {
  const parsed = parse_arguments(argv, env);
  if (parsed.help) {
    process.stdout.write(`${parsed.help}\n`);
    return 0;
  }
  const { options, command, args, flags } = parsed;
  const password = read_password(options, env);
  const sdk = require('node-opcua');
  // The SDK prints on standard output, which carries the values: its errors go to standard
  // error, the rest nowhere.
  const { make_log, route_sdk_logs } = require('../log');
  route_sdk_logs(sdk, make_log('warning', (line) => process.stderr.write(line.replace(/^hbtua:/, 'hbtua-client:'))));
  const { Printer, value_record } = require('./output');
  const printer = new Printer(options.json);
  const { client, session } = await connect(sdk, options, password);
  try {
    const node_of = await resolver(sdk, session);
    switch (command) {
      case 'browse':
        return (await browse(sdk, session, printer, node_of(args[0] || 'i=85'), flags.recursive)) ? 0 : 1;
      case 'read': {
        const ids = args.map(node_of);
        const values = await session.read(ids.map((nodeId) => ({ nodeId, attributeId: sdk.AttributeIds.Value })),
          0);
        values.forEach((dv, i) => printer.value(value_record(args[i], ids[i], dv)));
        return values.every((dv) => dv.statusCode.isGood()) ? 0 : 1;
      }
      case 'write': {
        const nodeId = node_of(args[0]);
        let type = flags.type;
        if (!type) {
          const dt = await session.read({ nodeId, attributeId: sdk.AttributeIds.DataType });
          if (dt.statusCode.isNotGood()) throw new ClientError(`${args[0]}: ${dt.statusCode.name}`);
          type = sdk.DataType[await session.getBuiltInDataType(nodeId)];
          if (!type || type === 'Null') throw new ClientError(`${args[0]} has no simple data type: give --type`);
        }
        const value = parse_value(args[1], type);
        const status = await session.write({
          nodeId, attributeId: sdk.AttributeIds.Value,
          value: { value: new sdk.Variant({ dataType: sdk.DataType[type], arrayType: sdk.VariantArrayType.Scalar, value }) },
        });
        printer.written(args[0], nodeId, status);
        return status.isGood() ? 0 : 1;
      }
      case 'subscribe':
        return await subscribe(sdk, session, printer, args, node_of, flags);
      default:
        throw new UsageError(`unknown command '${command}'`);
    }
  } finally {
    await session.close().catch(() => {});
    await client.disconnect().catch(() => {});
  }
}

async function subscribe(sdk, session, printer, names, node_of, flags) {
  const { AttributeIds, ClientMonitoredItemGroup, ClientSubscription, DataChangeFilter, DataChangeTrigger, DeadbandType,
    TimestampsToReturn } = sdk;
  const { value_record } = require('./output');
  const subscription = ClientSubscription.create(session, {
    requestedPublishingInterval: flags.interval, requestedLifetimeCount: 1000, requestedMaxKeepAliveCount: 10,
    maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 10,
  });
  let filter = null;
  if (flags.deadband !== null || flags.percent !== null) {
    filter = new DataChangeFilter({
      trigger: DataChangeTrigger.StatusValue,
      deadbandType: flags.percent !== null ? DeadbandType.Percent : DeadbandType.Absolute,
      deadbandValue: flags.percent ?? flags.deadband,
    });
  }
  const ids = names.map(node_of);
  const group = ClientMonitoredItemGroup.create(subscription,
    ids.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })),
    { samplingInterval: flags.sampling, discardOldest: true, queueSize: 1000, filter }, TimestampsToReturn.Both);
  let bad = false;
  group.on('changed', (item, dataValue, index) => {
    const r = value_record(names[index], ids[index], dataValue);
    if (!dataValue.statusCode.isGood()) bad = true;
    printer.value(r, { event: 'data', received_ms: Math.round(monotonic_ms() * 1000) / 1000 });
  });
  await new Promise((resolve, reject) => {
    group.once('initialized', resolve);
    group.once('err', (m) => reject(new ClientError(`subscription refused: ${m}`)));
  });
  group.monitoredItems.forEach((item, i) => {
    const status = item.statusCode;
    if (status && status.isNotGood()) {
      printer.event('status', { node: names[i], status: status.name });
      bad = true;
    }
  });
  subscription.on('status_changed', (status) => printer.event('status', { status: status.name }));
  await new Promise((resolve) => {
    const end = () => resolve();
    process.once('SIGINT', end);
    process.once('SIGTERM', end);
    if (flags.seconds > 0) setTimeout(end, flags.seconds * 1000);
  });
  await subscription.terminate().catch(() => {});
  return bad ? 1 : 0;
}

if (require.main === module) {
  run(process.argv.slice(2)).then((code) => process.exit(code), (err) => {
    if (err instanceof UsageError) {
      process.stderr.write(`hbtua-client: ${err.message}\nTry 'hbtua-client --help'.\n`);
      process.exit(2);
    }
    process.stderr.write(`hbtua-client: ${err instanceof ClientError ? err.message : (err.stack || err)}\n`);
    process.exit(1);
  });
}

module.exports = { run };
