// A forward-protocol receiver for the tests: FluentServer from @fluent-org/logger, an
// independent implementation of the protocol. Every event it takes is appended to the
// file out=PATH as one JSON line {"tag", "time", "record"}; "time" is a number for integer
// times and {"sec", "nsec"} for EventTime. Once listening it prints "listening PORT".
//
// Arguments (key=value): port (0: any free one), out, name (the server's host name),
// key (shared key), users (user:password,...), tls_key, tls_cert, tls_ca (client
// certificates required and checked against this CA).
"use strict";
const fs = require("fs");
const { FluentServer } = require("@fluent-org/logger");

const args = {};
for (const a of process.argv.slice(2)) {
  const i = a.indexOf("=");
  args[a.slice(0, i)] = a.slice(i + 1);
}

const options = { listenOptions: { port: Number(args.port || 0), host: "127.0.0.1" } };
if (args.key !== undefined) {
  const userDict = {};
  for (const pair of (args.users || "").split(",").filter(Boolean)) {
    const i = pair.indexOf(":");
    userDict[pair.slice(0, i)] = pair.slice(i + 1);
  }
  options.security = {
    serverHostname: args.name || "test-receiver",
    sharedKey: args.key,
    authorize: Object.keys(userDict).length > 0,
    userDict,
  };
}
if (args.tls_key) {
  options.tlsOptions = { key: fs.readFileSync(args.tls_key), cert: fs.readFileSync(args.tls_cert) };
  if (args.tls_ca) {
    options.tlsOptions.ca = fs.readFileSync(args.tls_ca);
    options.tlsOptions.requestCert = true;
    options.tlsOptions.rejectUnauthorized = true;
  }
}

function plain(value) {
  if (value instanceof Uint8Array) return { bin: Buffer.from(value).toString("hex") };
  if (value && typeof value === "object" && "_epoch" in value && "_nano" in value)
    return { sec: value._epoch, nsec: value._nano };
  if (Array.isArray(value)) return value.map(plain);
  if (value && typeof value === "object") {
    const o = {};
    for (const k of Object.keys(value)) o[k] = plain(value[k]);
    return o;
  }
  return value;
}

const server = new FluentServer(options);
// The server acks a chunk before it hands out its entries, in the same turn of the event
// loop; appending synchronously here keeps "acked" and "recorded" together, since the
// SIGTERM handler below runs only between turns.
server.on("entry", (tag, time, record) => {
  fs.appendFileSync(args.out, JSON.stringify({ tag, time: plain(time), record: plain(record) }) + "\n");
});
process.on("SIGTERM", () => process.exit(0));
server.listen().then(() => {
  process.stdout.write(`listening ${server.port}\n`);
});
