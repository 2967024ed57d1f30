// A forward-protocol receiver for libpostvane's tests: FluentServer from
// @fluent-org/logger (installed under tests/forward). Listens on 127.0.0.1 at the port
// given as the first argument (0: any free port), prints "LISTENING <port>" once it
// listens, then one JSON line {"tag":..., "record":...} per entry received. When its
// standard input ends it closes the server and exits.
'use strict';
const path = require('path');
const { FluentServer } = require(path.join(__dirname, '..', 'forward', 'node_modules', '@fluent-org', 'logger'));

const port = Number(process.argv[2] || 0);
// A name of its own: the server refuses clients that claim its own host name.
const server = new FluentServer({ listenOptions: { host: '127.0.0.1', port } });
server.on('entry', (tag, time, record) => {
  process.stdout.write(JSON.stringify({ tag, record }) + '\n');
});

server.listen().then(() => {
  process.stdout.write(`LISTENING ${server.port}\n`);
}, (error) => {
  process.stderr.write(`receiver: cannot listen: ${error.message}\n`);
  process.exit(2);
});

process.stdin.resume();
process.stdin.on('end', () => {
  const done = () => process.exit(0);
  server.close().then(done, done);
  setTimeout(done, 5000).unref();
});
