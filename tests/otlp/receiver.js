// An OTLP/HTTP trace receiver for the tests. It decodes every request body
// with the OpenTelemetry JavaScript project's own generated protobuf
// definitions (@opentelemetry/otlp-transformer), so that what psdump sends is
// checked by code that is not ours, and writes one JSON line per span:
//   {"traceId":hex,"spanId":hex,"parentSpanId":hex,"name":..,"kind":n,
//    "start":"ns","end":"ns","status":n,"links":n,
//    "attr.<key>":value,...,"res.<key>":value,...}
//
//   node receiver.js --port N --port-file F --out F [--fail-first N]
// --port 0 takes a free port (written to the port file once listening);
// --fail-first N answers the first N posts 503 with "Retry-After: 1".
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const zlib = require('zlib');

const generated = path.join(path.dirname(require.resolve('@opentelemetry/otlp-transformer')),
  'generated', 'root.js');
const root = require(generated);
const Request = root.opentelemetry.proto.collector.trace.v1.ExportTraceServiceRequest;
const Response = root.opentelemetry.proto.collector.trace.v1.ExportTraceServiceResponse;

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].slice(2)] = process.argv[i + 1];
let failLeft = Number(args['fail-first'] || 0);
const out = fs.openSync(args.out, 'a');

const hex = (b) => Buffer.from(b || []).toString('hex');
function value(v) {
  if (!v) return null;
  if (v.stringValue !== undefined && v.stringValue !== null) return v.stringValue;
  if (v.boolValue !== undefined && v.boolValue !== null) return v.boolValue;
  if (v.intValue !== undefined && v.intValue !== null) return Number(v.intValue.toString());
  if (v.doubleValue !== undefined && v.doubleValue !== null) return v.doubleValue;
  return null;
}
function attrs(line, prefix, list) {
  for (const kv of list || []) line[prefix + kv.key] = value(kv.value);
}

const server = http.createServer((req, res) => {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => {
    if (failLeft > 0) {
      failLeft--;
      res.writeHead(503, {'Retry-After': '1'});
      res.end();
      return;
    }
    let body = Buffer.concat(chunks);
    try {
      if (req.headers['content-type'] !== 'application/x-protobuf') throw new Error('content type ' + req.headers['content-type']);
      if (req.headers['content-encoding'] === 'gzip') body = zlib.gunzipSync(body);
      const message = Request.decode(body);
      let lines = '';
      for (const rs of message.resourceSpans) {
        const resource = {};
        attrs(resource, 'res.', rs.resource && rs.resource.attributes);
        for (const ss of rs.scopeSpans) {
          for (const s of ss.spans) {
            const line = {
              traceId: hex(s.traceId), spanId: hex(s.spanId), parentSpanId: hex(s.parentSpanId),
              name: s.name, kind: s.kind, start: s.startTimeUnixNano.toString(),
              end: s.endTimeUnixNano.toString(), status: s.status ? s.status.code : 0,
              links: (s.links || []).length, gzip: req.headers['content-encoding'] === 'gzip',
            };
            attrs(line, 'attr.', s.attributes);
            Object.assign(line, resource);
            lines += JSON.stringify(line) + '\n';
          }
        }
      }
      fs.writeSync(out, lines);
      res.writeHead(200, {'Content-Type': 'application/x-protobuf'});
      res.end(Buffer.from(Response.encode(Response.create({})).finish()));
    } catch (e) {
      process.stderr.write('receiver: ' + e.message + '\n');
      res.writeHead(400);
      res.end();
    }
  });
});
server.listen(Number(args.port || 0), '127.0.0.1', () => {
  if (args['port-file']) {
    fs.writeFileSync(args['port-file'] + '.tmp', String(server.address().port));
    fs.renameSync(args['port-file'] + '.tmp', args['port-file']);
  }
});
process.on('SIGTERM', () => server.close(() => process.exit(0)));
