'use strict';
// The users of the server: a text file of one user a line, "NAME ROLE HASH", the password
// kept only as a salted scrypt hash. Roles: "operator" reads and writes, "viewer" only reads.
// `hbtua passwd FILE NAME` adds a user or sets a new password.
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

const kRoles = Object.freeze(['operator', 'viewer']);
const kScrypt = Object.freeze({ N: 16384, r: 8, p: 1, keyLength: 32, saltLength: 16 });
const kNamePattern = /^[A-Za-z0-9_.@-]{1,64}$/;

class UsersFileError extends Error {}

function scrypt(password, salt, { N, r, p, keyLength }) {
  return new Promise((resolve, reject) => {
    crypto.scrypt(password, salt, keyLength, { N, r, p, maxmem: 256 * N * r }, (err, key) => (err ? reject(err) : resolve(key)));
  });
}

async function hash_password(password) {
  const salt = crypto.randomBytes(kScrypt.saltLength);
  const key = await scrypt(password, salt, kScrypt);
  return `scrypt$${kScrypt.N}$${kScrypt.r}$${kScrypt.p}$${salt.toString('base64')}$${key.toString('base64')}`;
}

function parse_hash(text) {
  const parts = text.split('$');
  if (parts.length !== 6 || parts[0] !== 'scrypt') return null;
  const [N, r, p] = parts.slice(1, 4).map((x) => Number(x));
  const salt = Buffer.from(parts[4], 'base64');
  const key = Buffer.from(parts[5], 'base64');
  const powerOfTwo = Number.isInteger(N) && N >= 2 && N <= 1 << 20 && (N & (N - 1)) === 0;
  if (!powerOfTwo || !Number.isInteger(r) || r < 1 || r > 32 || !Number.isInteger(p) || p < 1 || p > 16 ||
      salt.length < 8 || key.length < 16) {
    return null;
  }
  return { N, r, p, salt, key };
}

// Users from the text of a users file: Map name → {role, hash}. Throws UsersFileError naming
// the line of the first fault.
function parse_users(text, fileName = 'users file') {
  const users = new Map();
  text.split(/\r?\n/).forEach((raw, index) => {
    const line = raw.trim();
    if (!line || line.startsWith('#')) return;
    const where = `${fileName}:${index + 1}`;
    const fields = line.split(/\s+/);
    if (fields.length !== 3) throw new UsersFileError(`${where}: expected "NAME ROLE HASH"`);
    const [name, role, hashText] = fields;
    if (!kNamePattern.test(name)) throw new UsersFileError(`${where}: bad user name '${name}'`);
    if (!kRoles.includes(role)) throw new UsersFileError(`${where}: unknown role '${role}' (${kRoles.join(' or ')})`);
    const hash = parse_hash(hashText);
    if (!hash) throw new UsersFileError(`${where}: the password hash is not one hbtua passwd writes`);
    if (users.has(name)) throw new UsersFileError(`${where}: user '${name}' is listed twice`);
    users.set(name, { role, hash });
  });
  return users;
}

class UserBook {
  constructor(users = new Map()) { this.users_ = users; }

  static load(file) {
    let text;
    try {
      text = fs.readFileSync(file, 'utf8');
    } catch (err) {
      throw new UsersFileError(`cannot read the users file ${file}: ${err.code === 'ENOENT' ? 'no such file' : err.message}`);
    }
    return new UserBook(parse_users(text, file));
  }

  get size() { return this.users_.size; }
  role_of(name) { return this.users_.get(name)?.role; }

  // Whether the password is the user's. A name that is not listed costs the same time as a
  // wrong password, so that the answer does not tell which names exist.
  async verify(name, password) {
    const user = this.users_.get(name);
    const hash = user ? user.hash : kDecoy;
    let key;
    try {
      key = await scrypt(String(password ?? ''), hash.salt, { ...hash, keyLength: hash.key.length });
    } catch {
      return false;
    }
    return !!user && crypto.timingSafeEqual(key, hash.key);
  }
}

const kDecoy = { N: kScrypt.N, r: kScrypt.r, p: kScrypt.p, salt: Buffer.alloc(16, 1), key: Buffer.alloc(32) };

// Adds NAME or gives it a new password (and role), keeping every other line as it was. The
// file is replaced in one step and readable by its owner and group only.
async function set_password(file, name, password, role) {
  if (!kNamePattern.test(name)) throw new UsersFileError(`bad user name '${name}': letters, digits and _ . @ - only`);
  if (role && !kRoles.includes(role)) throw new UsersFileError(`unknown role '${role}' (${kRoles.join(' or ')})`);
  if (!password) throw new UsersFileError('the password is empty');
  let text = '';
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (err) {
    if (err.code !== 'ENOENT') throw new UsersFileError(`cannot read the users file ${file}: ${err.message}`);
  }
  const existing = parse_users(text, file);
  const newRole = role || existing.get(name)?.role || 'operator';
  const entry = `${name} ${newRole} ${await hash_password(password)}`;
  const lines = text ? text.replace(/\n$/, '').split('\n') : ['# hbtua users: NAME ROLE HASH (written by hbtua passwd)'];
  const at = lines.findIndex((l) => l.trim().split(/\s+/)[0] === name && !l.trim().startsWith('#'));
  if (at >= 0) lines[at] = entry;
  else lines.push(entry);
  const temp = path.join(path.dirname(path.resolve(file)), `.${path.basename(file)}.${process.pid}.tmp`);
  fs.writeFileSync(temp, `${lines.join('\n')}\n`, { mode: 0o640 });
  fs.renameSync(temp, file);
  return { created: at < 0, role: newRole };
}

module.exports = { UserBook, UsersFileError, parse_users, hash_password, set_password, kRoles };
