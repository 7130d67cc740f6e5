'use strict';
// A UA client for the tests: sessions over any security mode, and the few calls the tests
// make (read, write, browse, monitored items that collect their notifications).
const {
  AttributeIds, ClientSubscription, ClientMonitoredItem, DataChangeFilter, DataChangeTrigger, DeadbandType,
  MessageSecurityMode, OPCUAClient, SecurityPolicy, TimestampsToReturn, UserTokenType, coerceNodeId, NodeId, NodeIdType,
} = require('node-opcua');

const kDriverUri = 'urn:hbt:driver';

// {url, mode: 'None'|'Sign'|'SignAndEncrypt', user, password, pkiDir}
async function open_session({ url, mode = 'None', user, password, pkiDir, requestedSessionTimeout = 30000 }) {
  const security = mode === 'None'
    ? { securityMode: MessageSecurityMode.None, securityPolicy: SecurityPolicy.None }
    : { securityMode: MessageSecurityMode[mode], securityPolicy: SecurityPolicy.Basic256Sha256 };
  const options = {
    ...security, endpointMustExist: false, requestedSessionTimeout, keepSessionAlive: false,
    connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
    applicationName: 'hbtua test client',
  };
  if (pkiDir) {
    const { OPCUACertificateManager } = require('node-opcua');
    options.clientCertificateManager = new OPCUACertificateManager({
      rootFolder: pkiDir, automaticallyAcceptUnknownCertificate: true, keySize: 2048,
    });
  }
  const client = OPCUAClient.create(options);
  await client.connect(url);
  try {
    const identity = user ? { type: UserTokenType.UserName, userName: user, password } : undefined;
    const session = await client.createSession(identity);
    const ns = (await session.readNamespaceArray()).indexOf(kDriverUri);
    return { client, session, ns, nodeId: (text) => new NodeId(NodeIdType.STRING, text, ns) };
  } catch (err) {
    await client.disconnect();
    throw err;
  }
}

async function close_session(s) {
  if (!s) return;
  try {
    await s.session.close();
  } catch { /* the server may be gone */ }
  await s.client.disconnect();
}

async function browse_names(s, nodeId) {
  const r = await s.session.browse(typeof nodeId === 'string' ? coerceNodeId(nodeId) : nodeId);
  return r.references.map((ref) => ({
    id: ref.nodeId, nodeId: ref.nodeId.value, browseName: ref.browseName.name, displayName: ref.displayName.text,
    nodeClass: ref.nodeClass,
  }));
}

// A subscription that records every notification of its items: {item, values[]}.
async function subscribe(s, itemIds, { interval = 50, samplingInterval = 0, filter = null, queueSize = 100 } = {}) {
  const subscription = ClientSubscription.create(s.session, {
    requestedPublishingInterval: interval, requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 20,
    maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
  });
  await new Promise((resolve, reject) => {
    subscription.once('started', resolve);
    subscription.once('error', reject);
  });
  const items = new Map();
  for (const itemId of itemIds) {
    const values = [];
    const item = ClientMonitoredItem.create(subscription,
      { nodeId: s.nodeId(itemId), attributeId: AttributeIds.Value },
      { samplingInterval, discardOldest: true, queueSize, filter }, TimestampsToReturn.Both);
    item.on('changed', (dv) => values.push({
      value: dv.value.value, status: dv.statusCode, source: dv.sourceTimestamp, at: Date.now(),
      mono: Number(process.hrtime.bigint()) / 1e6,
    }));
    await new Promise((resolve, reject) => {
      item.once('initialized', resolve);
      item.once('err', (m) => reject(new Error(`${itemId}: ${m}`)));
    });
    items.set(itemId, { item, values });
  }
  // Each item's first notification is the value the server sampled when it made the item,
  // which may reach the client after 'initialized': a test that changes a value right away
  // would otherwise not know whether its change or the one before it comes first.
  const pending = () => [...items].filter(([, { values }]) => values.length === 0).map(([id]) => id);
  if (!(await eventually(() => pending().length === 0))) {
    throw new Error(`no first value for ${pending().join(', ')}`);
  }
  return { subscription, items };
}

function absolute_deadband(value) {
  return new DataChangeFilter({ trigger: DataChangeTrigger.StatusValue, deadbandType: DeadbandType.Absolute, deadbandValue: value });
}

function percent_deadband(value) {
  return new DataChangeFilter({ trigger: DataChangeTrigger.StatusValue, deadbandType: DeadbandType.Percent, deadbandValue: value });
}

// Polls `condition` every 20 ms until it holds or `ms` passed; returns whether it held.
async function eventually(condition, ms = 10000) {
  const end = Date.now() + ms;
  for (;;) {
    if (await condition()) return true;
    if (Date.now() > end) return false;
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

module.exports = {
  open_session, close_session, browse_names, subscribe, absolute_deadband, percent_deadband, eventually, kDriverUri,
};
