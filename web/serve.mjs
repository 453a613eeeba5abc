// A static file server for the site on 127.0.0.1, for make web and its check.
// Run as a program it serves DIR on PORT (0: any free port) and prints the address.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.png': 'image/png',
};

// Resolves with { server, url } once listening.
export function serveSite(dir, port = 0) {
  const root = path.resolve(dir);
  const server = http.createServer((request, response) => {
    let name;
    try {
      name = decodeURIComponent(new URL(request.url, 'http://host').pathname);
    } catch (e) {
      name = '/';
    }
    if (name.endsWith('/')) name += 'index.html';
    // Only files under the site: no way out through "..".
    const file = path.join(root, path.normalize(name));
    if (!file.startsWith(root + path.sep)) {
      response.writeHead(403).end();
      return;
    }
    fs.readFile(file, (error, body) => {
      if (error) {
        response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
        return;
      }
      response.writeHead(200, {
        'Content-Type': types[path.extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-cache',
      }).end(body);
    });
  });
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.listen(port, '127.0.0.1', () =>
      resolve({ server, url: `http://127.0.0.1:${server.address().port}/` }));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const [dir = '.', port = '0'] = process.argv.slice(2);
  const { url } = await serveSite(dir, Number(port));
  console.log(`serving ${dir} at ${url} (Ctrl-C stops)`);
}
