'use strict';
// The OPC UA server itself, as the SDK makes it from our settings: endpoints and their
// security, the application certificate (made on first start in the data folder, its
// private key readable by its owner only), users, limits and BuildInfo.
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {
  MessageSecurityMode, OPCUACertificateManager, OPCUAServer, SecurityPolicy, StatusCodes, UserNameIdentityToken,
} = require('node-opcua');

const kApplicationName = 'HBT OPC UA Server';
const kNamespaceUri = 'urn:hbt:driver';
const kVersion = '7.9.21';

class StartupError extends Error {}

function application_uri(hostname) { return `urn:${hostname}:hbt:hbtua`; }

// A certificate or key that is there but cannot be read is a fault of the installation:
// the server says which file and why instead of making a new one over it.
function check_readable_pem(file, what, parse) {
  if (!fs.existsSync(file)) return false;
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (err) {
    throw new StartupError(`cannot read the ${what} ${file}: ${err.code === 'EACCES' ? 'permission denied' : err.message}`);
  }
  try {
    parse(text);
  } catch (err) {
    throw new StartupError(`the ${what} ${file} is not a valid PEM file: ${err.message}`);
  }
  return true;
}

async function with_umask(mask, task) {
  const old = process.umask(mask);
  try {
    return await task();
  } finally {
    process.umask(old);
  }
}

// The certificate stores under the data folder: pki/ for the server's own certificate and
// the client certificates it trusts or rejected, user-pki/ for user certificates.
async function prepare_pki(settings, log) {
  const dataDir = settings.data_dir;
  try {
    fs.mkdirSync(dataDir, { recursive: true, mode: 0o750 });
    fs.accessSync(dataDir, fs.constants.W_OK | fs.constants.X_OK);
  } catch (err) {
    throw new StartupError(`cannot use the data folder ${dataDir}: ${err.code === 'EACCES' ? 'permission denied' : err.message}`);
  }
  const pki = path.join(dataDir, 'pki');
  const certificateFile = path.join(pki, 'own', 'certs', 'certificate.pem');
  const privateKeyFile = path.join(pki, 'own', 'private', 'private_key.pem');
  const hadCertificate = check_readable_pem(certificateFile, 'certificate', (t) => new crypto.X509Certificate(t));
  check_readable_pem(privateKeyFile, 'private key', (t) => crypto.createPrivateKey(t));
  const serverCertificateManager = new OPCUACertificateManager({
    rootFolder: pki, automaticallyAcceptUnknownCertificate: settings.trust_client_certificates, name: 'pki',
    keySize: 2048,
  });
  const userCertificateManager = new OPCUACertificateManager({
    rootFolder: path.join(dataDir, 'user-pki'), automaticallyAcceptUnknownCertificate: false, name: 'user-pki',
  });
  return { serverCertificateManager, userCertificateManager, certificateFile, privateKeyFile, hadCertificate };
}

function secure_private_key(file, log) {
  try {
    const mode = fs.statSync(file).mode & 0o777;
    if (mode & 0o077) {
      fs.chmodSync(file, 0o600);
      log.warn(`private key ${file} was readable by others (mode ${mode.toString(8)}): now 600`);
    }
    fs.chmodSync(path.dirname(file), 0o700);
  } catch (err) {
    throw new StartupError(`cannot protect the private key ${file}: ${err.message}`);
  }
}

// Under a sandbox that forbids netlink sockets (systemd's RestrictAddressFamilies without
// AF_NETLINK) Node cannot list the network interfaces and throws; the SDK asks for them to
// put the host's addresses into a new certificate. Without them the certificate names the
// host by its names only, which clients accept as well.
function tolerate_hidden_interfaces(log) {
  const list = os.networkInterfaces;
  if (list.hbtTolerant) return;
  let told = false;
  const tolerant = () => {
    try {
      return list.call(os);
    } catch (err) {
      // The SDK asks more than once; the administrator needs to hear it once.
      if (!told) log.warn(`the network interfaces cannot be listed (${err.message}): the certificate names this host only`);
      told = true;
      return {};
    }
  };
  tolerant.hbtTolerant = true;
  os.networkInterfaces = tolerant;
}

// users: a UserBook or null. Returns {server, namespace}; the server is initialised but not
// yet listening.
async function create_server(settings, { users, log }) {
  tolerate_hidden_interfaces(log);
  const hostname = settings.hostname || os.hostname();
  const pki = await prepare_pki(settings, log);
  const policies = [SecurityPolicy.Basic256Sha256];
  const modes = [MessageSecurityMode.Sign, MessageSecurityMode.SignAndEncrypt];
  if (settings.allow_insecure) {
    policies.unshift(SecurityPolicy.None);
    modes.unshift(MessageSecurityMode.None);
  }
  const server = new OPCUAServer({
    port: settings.port,
    hostname: settings.hostname || undefined,
    resourcePath: '',
    serverCertificateManager: pki.serverCertificateManager,
    userCertificateManager: pki.userCertificateManager,
    certificateFile: pki.certificateFile,
    privateKeyFile: pki.privateKeyFile,
    securityPolicies: policies,
    securityModes: modes,
    allowAnonymous: settings.allow_anonymous,
    maxConnectionsPerEndpoint: settings.max_connections,
    serverInfo: {
      applicationUri: application_uri(hostname),
      productUri: 'urn:velmora:hbt:hbtua',
      applicationName: { text: `${kApplicationName}@${hostname}`, locale: 'en' },
    },
    buildInfo: {
      productName: `Brenlow Ethernet Driver OPC UA Server`,
      productUri: 'urn:velmora:hbt:hbtua',
      manufacturerName: 'Velmora',
      softwareVersion: kVersion,
      buildNumber: kVersion,
      buildDate: build_date(),
    },
    serverCapabilities: {
      maxSessions: settings.max_sessions,
      maxSubscriptions: settings.max_subscriptions,
      maxSubscriptionsPerSession: settings.max_subscriptions_per_session,
      maxMonitoredItems: settings.max_monitored_items,
      maxMonitoredItemsPerSubscription: settings.max_monitored_items_per_subscription,
    },
    userManager: {
      isValidUserAsync: (userName, password, callback) => {
        if (!users) return callback(null, false);
        users.verify(userName, password).then((ok) => {
          if (!ok) log.warn(`refused user '${userName}': wrong name or password`);
          callback(null, ok);
        }, (err) => callback(err));
      },
    },
  });
  try {
    await with_umask(0o077, () => server.initialize());
  } catch (err) {
    throw new StartupError(`cannot set up the server: ${err.message}`);
  }
  secure_private_key(pki.privateKeyFile, log);
  // A refused client certificate is the administrator's business: say so once per
  // certificate, and where it waits to be trusted.
  const rejected = path.join(settings.data_dir, 'pki', 'rejected');
  const told = new Set();
  for (const endpoint of server.endpoints) {
    endpoint.onAdjustCertificateStatus = (statusCode, certificate) => {
      const print = certificate ? crypto.createHash('sha1').update(certificate).digest('hex') : '';
      if (!told.has(print)) {
        told.add(print);
        const hint = statusCode === StatusCodes.BadCertificateUntrusted
          ? `: it waits in ${rejected}; move it to ${path.join(settings.data_dir, 'pki', 'trusted', 'certs')} to trust it` : '';
        log.warn(`refused a client certificate (sha1 ${print}): ${statusCode.name}${hint}`);
      }
      return statusCode;
    };
  }
  server.on('session_activated', (session) => {
    const token = session.userIdentityToken;
    log.debug(`session for ${token instanceof UserNameIdentityToken ? token.userName : 'an anonymous client'}`);
  });
  if (!pki.hadCertificate) log.info(`created the application certificate ${pki.certificateFile}`);
  const namespace = server.engine.addressSpace.registerNamespace(kNamespaceUri);
  return { server, namespace, certificateFile: pki.certificateFile };
}

// What a session's user may do: operators write, viewers (and anonymous clients unless the
// settings say otherwise) only read.
function make_write_check(users, settings) {
  return (context) => {
    const token = context && context.session && context.session.userIdentityToken;
    if (token instanceof UserNameIdentityToken) return users?.role_of(token.userName) === 'operator';
    return settings.anonymous_role === 'operator';
  };
}

// The build's date: that of the service's own files.
function build_date() {
  try {
    return fs.statSync(__filename).mtime;
  } catch {
    return new Date();
  }
}

// Starts listening; a port in use (or any other listen failure) becomes a StartupError that
// says which port.
async function start_listening(server, port) {
  try {
    await server.start();
  } catch (err) {
    const text = `${err.message || err}`;
    if (/EADDRINUSE/.test(text) || err.code === 'EADDRINUSE') throw new StartupError(`port ${port} is in use`);
    if (/EACCES/.test(text)) throw new StartupError(`port ${port} may not be used by this user`);
    throw new StartupError(`cannot listen on port ${port}: ${text}`);
  }
  const endpoint = server.endpoints[0];
  const actual = endpoint && endpoint.port;
  return actual || port;
}

module.exports = { create_server, start_listening, make_write_check, StartupError, kNamespaceUri, kVersion };
