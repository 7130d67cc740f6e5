'use strict';
// The command line, the settings file and the users file: what they accept, the faults they
// name with their line, and the password hashes.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { parse_command_line, apply_file_text, defaults, default_data_dir, ConfigError, kSettings } = require('../src/config');
const { UserBook, UsersFileError, parse_users, set_password, hash_password } = require('../src/users');

const scratch = () => fs.mkdtempSync(path.join(os.tmpdir(), 'hbtua-test-'));

test('the settings file sets every kind of value; paths are taken from its folder', () => {
  const s = apply_file_text(defaults(), [
    '# the plant server',
    'port = 4841',
    'allow_insecure = yes   # trailing comment',
    'allow_anonymous=off',
    'anonymous_role = operator',
    'users_file = users.txt',
    'tag_file = /etc/hbt/tags.txt',
    'max_sessions = 3',
    'log_level = debug',
    '',
  ].join('\n'), '/etc/hbt/hbtua.conf');
  assert.equal(s.port, 4841);
  assert.equal(s.allow_insecure, true);
  assert.equal(s.allow_anonymous, false);
  assert.equal(s.anonymous_role, 'operator');
  assert.equal(s.users_file, '/etc/hbt/users.txt');
  assert.equal(s.tag_file, '/etc/hbt/tags.txt');
  assert.equal(s.max_sessions, 3);
  assert.equal(s.log_level, 'debug');
  assert.equal(s.max_subscriptions, defaults().max_subscriptions, 'what the file does not set keeps its default');
});

test('a fault in the settings file is named with its file and line', () => {
  const fails = (text, pattern) => assert.throws(() => apply_file_text(defaults(), text, 'x.conf'),
    (err) => err instanceof ConfigError && pattern.test(err.message), text);
  fails('port = 4840\nprot = 1', /^x\.conf:2: unknown setting 'prot'/);
  fails('port 4840', /^x\.conf:1: expected "name = value"/);
  fails('port = 65536', /x\.conf:1: port: expected a port number/);
  fails('port = -1', /port number/);
  fails('max_sessions = 0', /above 0/);
  fails('max_sessions = 2.5', /above 0/);
  fails('allow_insecure = maybe', /expected yes or no/);
  fails('anonymous_role = admin', /viewer or operator/);
});

test('the command line overrides the file; usage faults and help are told apart', () => {
  const dir = scratch();
  const conf = path.join(dir, 'hbtua.conf');
  fs.writeFileSync(conf, 'port = 5000\nallow_anonymous = no\ndata_dir = state\n');
  const { settings, portFile } = parse_command_line(['--config', conf, '--port', '0', '--allow-anonymous',
    '--port-file', 'p.txt'], {});
  assert.equal(settings.port, 0);
  assert.equal(settings.allow_anonymous, true);
  assert.equal(settings.allow_insecure, false);
  assert.equal(settings.data_dir, path.join(dir, 'state'));
  assert.equal(portFile, path.resolve('p.txt'));
  assert.ok(parse_command_line(['--help']).help.includes('--allow-insecure'));
  assert.throws(() => parse_command_line(['--port']), /--port needs a value/);
  assert.throws(() => parse_command_line(['--port', 'http']), /port number/);
  assert.throws(() => parse_command_line(['--frobnicate']), /unknown argument/);
  assert.throws(() => parse_command_line(['--config', path.join(dir, 'missing.conf')]), /cannot read the settings file .*no such file/);
  assert.deepEqual(parse_command_line(['passwd', 'u.txt', 'anna', '--role', 'viewer']).passwd,
    { file: 'u.txt', name: 'anna', role: 'viewer' });
  assert.throws(() => parse_command_line(['passwd', 'u.txt']), /USERS_FILE and NAME/);
});

test('the data folder is systemd\'s state folder under a service, the user\'s otherwise', () => {
  assert.equal(default_data_dir({ STATE_DIRECTORY: '/var/lib/hbt:/var/lib/other' }), '/var/lib/hbt');
  assert.equal(default_data_dir({ XDG_STATE_HOME: '/home/a/.state' }), '/home/a/.state/hbt/hbtua');
  assert.equal(default_data_dir({ HOME: '/home/b' }), '/home/b/.local/state/hbt/hbtua');
});

test('users: passwords are kept hashed, checked, changed; other lines stay as they were', async () => {
  const dir = scratch();
  const file = path.join(dir, 'users');
  assert.deepEqual(await set_password(file, 'anna', 'first secret', null), { created: true, role: 'operator' });
  assert.deepEqual(await set_password(file, 'ben', 'bens', 'viewer'), { created: true, role: 'viewer' });
  assert.deepEqual(await set_password(file, 'anna', 'second secret', null), { created: false, role: 'operator' });
  const text = fs.readFileSync(file, 'utf8');
  assert.ok(!text.includes('secret'), 'no password in the clear');
  assert.equal(fs.statSync(file).mode & 0o007, 0, 'not readable by others');
  const book = UserBook.load(file);
  assert.equal(book.size, 2);
  assert.equal(book.role_of('ben'), 'viewer');
  assert.equal(await book.verify('anna', 'second secret'), true);
  assert.equal(await book.verify('anna', 'first secret'), false);
  assert.equal(await book.verify('ben', 'bens'), true);
  assert.equal(await book.verify('nobody', 'bens'), false);
  assert.equal(await book.verify('anna', undefined), false);
  assert.ok(text.startsWith('#'), 'a new file explains itself');
});

test('users: a fault in the users file is named with its line, and refused names and roles too', async () => {
  const good = await hash_password('x');
  const fails = (text, pattern) => assert.throws(() => parse_users(text, 'u'), (e) => e instanceof UsersFileError && pattern.test(e.message));
  fails(`anna operator`, /^u:1: expected "NAME ROLE HASH"/);
  fails(`# c\nanna admin ${good}`, /^u:2: unknown role 'admin'/);
  fails(`an:na operator ${good}`, /bad user name/);
  fails(`anna operator plain-password`, /not one hbtua passwd writes/);
  fails(`anna operator scrypt$16383$8$1$AAAAAAAAAAA=$AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=`, /not one hbtua passwd writes/);
  fails(`anna operator ${good}\nanna viewer ${good}`, /^u:2: user 'anna' is listed twice/);
  assert.equal(parse_users(`\n# only comments\n  \n`, 'u').size, 0);
  await assert.rejects(set_password(path.join(scratch(), 'u'), 'a b', 'x', null), /bad user name/);
  await assert.rejects(set_password(path.join(scratch(), 'u'), 'ab', 'x', 'root'), /unknown role/);
  await assert.rejects(set_password(path.join(scratch(), 'u'), 'ab', '', null), /empty/);
  assert.throws(() => UserBook.load(path.join(scratch(), 'none')), /cannot read the users file .*no such file/);
});

test('the settings file the package installs names real settings with their true defaults', () => {
  const file = path.join(__dirname, '..', '..', 'packaging', 'examples', 'hbtua.conf');
  const text = fs.readFileSync(file, 'utf8');
  assert.deepEqual(apply_file_text(defaults(), text, '/etc/hbt/hbtua.conf'), defaults(), 'as shipped it changes nothing');
  const shown = text.split('\n').filter((line) => /^#[a-z_]+ =/.test(line));
  assert.ok(shown.length >= 10, 'the settings are listed');
  for (const line of shown) {
    const name = line.slice(1).split('=')[0].trim();
    assert.ok(name in kSettings, `${name} is a setting`);
    if (name === 'users_file' || name === 'tag_file') continue;  // examples of a path, no default
    const s = apply_file_text(defaults(), line.slice(1), '/etc/hbt/hbtua.conf');
    assert.deepEqual(s[name], defaults()[name], `${line} shows the default`);
  }
});
