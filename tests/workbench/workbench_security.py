#!/usr/bin/python3
"""The workbench's defences through HTTP, as a table: each case with the status it must get and
what must (not) be left on disk.

    workbench_security.py BUILD_APPS_DIR SOURCE_DIR
"""
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

apps, source = (os.path.abspath(a) for a in sys.argv[1:3])
failures = []


def check(case, ok, detail=""):
    print("%-62s %s %s" % (case, "ok  " if ok else "FAIL", detail))
    if not ok:
        failures.append(case)


def request(port, method, path, body=None, headers=None):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request(method, path, body=body, headers=headers or {})
    r = c.getresponse()
    data = r.read()
    c.close()
    return r.status, dict(r.getheaders()), data


def start(project, *extra):
    p = subprocess.Popen([os.path.join(apps, "basinfit-workbench"), project, "--no-browser", "-j", "1", *extra],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    p.stdout.readline()
    url = p.stdout.readline().strip()
    port = int(url.split(":")[2].split("/")[0])
    return p, port, url.split("key=")[1]


def leftovers(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith(".upload."))


with tempfile.TemporaryDirectory() as top:
    project = os.path.join(top, "project")
    inputs = os.path.join(project, "inputs")
    server, port, key = start(project, "--max-upload-mb", "1", "--max-project-mb", "3")
    other = None
    try:
        host = {"Host": "127.0.0.1:%d" % port}
        status, _, _ = request(port, "GET", "/api/project", headers=host)
        check("no cookie: 403", status == 403, str(status))
        status, headers, _ = request(port, "GET", "/?key=" + "0" * 64, headers=host)
        check("wrong key: 403, no cookie set", status == 403 and "Set-Cookie" not in headers, str(status))
        status, headers, _ = request(port, "GET", "/?key=" + key, headers=host)
        cookie = headers.get("Set-Cookie", "")
        check("right key: 303 to / with an HttpOnly SameSite=Strict cookie",
              status == 303 and headers.get("Location") == "/" and "HttpOnly" in cookie and "SameSite=Strict" in cookie,
              str(status))
        session = {"Cookie": cookie.split(";")[0], **host}
        check("cookie: 200", request(port, "GET", "/api/project", headers=session)[0] == 200)
        check("wrong cookie: 403", request(port, "GET", "/api/project",
                                           headers={**host, "Cookie": "basinfit_workbench=" + "1" * 64})[0] == 403)
        check("the key as a cookie is no session: 403", request(port, "GET", "/api/project",
                                                            headers={**host, "Cookie": "basinfit_workbench=" + key})[0] == 403)
        for h in ("evil.example:%d" % port, "127.0.0.1:%d" % (port + 1), "127.0.0.1", "localhost.evil.example:%d" % port):
            status = request(port, "GET", "/api/project", headers={**session, "Host": h})[0]
            check("foreign Host %s: 403" % h, status == 403, str(status))
        check("Host localhost:PORT: 200",
              request(port, "GET", "/api/project", headers={**session, "Host": "localhost:%d" % port})[0] == 200)
        manifest_before = open(os.path.join(project, "manifest.csv")).read()
        for origin in ("http://evil.example", "http://127.0.0.1:%d" % (port + 1), "null", "https://127.0.0.1:%d" % port):
            status = request(port, "POST", "/api/surveys", body=json.dumps({"file": "x"}),
                             headers={**session, "Origin": origin})[0]
            check("foreign Origin %s: 403" % origin, status == 403, str(status))
        check("manifest untouched by refused requests", open(os.path.join(project, "manifest.csv")).read() == manifest_before)

        # Upload names: reduced to a base name inside inputs/, or refused.
        outside = os.path.join(top, "outside.pdx")
        for name, expected in (("../../outside.pdx", "outside.pdx"), ("/etc/passwd", "passwd"),
                               ("..\\..\\win.pdx", "win.pdx"), ("a\x01b\x7f.pdx", "ab.pdx")):
            status, _, body = request(port, "PUT", "/api/upload?name=" + urllib.parse.quote(name),
                                      body=b"x", headers=session)
            stored = json.loads(body).get("file") if status == 201 else None
            check("upload name %r: 201 as %s in inputs/" % (name, expected),
                  status == 201 and stored == expected and os.path.isfile(os.path.join(inputs, expected)), str(stored))
        check("nothing written outside the project", not os.path.exists(outside))
        for name in ("..", ".", "", "CON.pdx", "com1", "\x01\x02", "a%00b"):
            status = request(port, "PUT", "/api/upload?name=" + urllib.parse.quote(name), body=b"x",
                             headers=session)[0]
            ok = status == 400 or (name == "a%00b" and status == 201)
            check("upload name %r: refused (400)" % name if name != "a%00b" else "upload name with NUL: NUL dropped",
                  ok, str(status))
        check("no NUL or control byte in any stored name",
              all(all(ord(ch) >= 32 for ch in n) for n in os.listdir(inputs)))
        target = os.path.join(top, "target.txt")
        open(target, "w").write("keep")
        os.symlink(target, os.path.join(inputs, "link.pdx"))
        status, _, body = request(port, "PUT", "/api/upload?name=link.pdx", body=b"overwrite", headers=session)
        check("upload onto a link: stored beside it, the link's target untouched",
              status == 201 and json.loads(body)["file"] == "link-2.pdx" and open(target).read() == "keep", str(status))
        status = request(port, "PUT", "/api/upload?name=big.pdx", body=b"x" * ((1 << 20) + 1), headers=session)[0]
        check("upload over the per-file limit: 413, nothing left", status == 413 and not os.path.exists(
            os.path.join(inputs, "big.pdx")) and not leftovers(inputs), str(status))
        for i in range(3):
            request(port, "PUT", "/api/upload?name=fill%d.pdx" % i, body=b"x" * (1000 * 1000), headers=session)
        status = request(port, "PUT", "/api/upload?name=more.pdx", body=b"x" * 200000, headers=session)[0]
        check("upload over the project limit: 413, nothing left",
              status == 413 and not os.path.exists(os.path.join(inputs, "more.pdx")) and not leftovers(inputs), str(status))

        # A client that goes away mid-upload leaves no file; a silent one holds nothing up.
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(("PUT /api/upload?name=half.pdx HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n%s: %s\r\n"
                   "Content-Length: 500000\r\n\r\n" % (port, "Cookie", session["Cookie"])).encode() + b"x" * 1000)
        s.close()
        slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(6)]
        for q in slow:
            q.sendall(b"GET /api/project HTTP/1.1\r\nHost: 127.0.0.1")
        started = time.monotonic()
        status = request(port, "GET", "/api/project", headers=session)[0]
        check("six silent clients: the server still answers at once", status == 200 and time.monotonic() - started < 5)
        for q in slow:
            q.close()
        time.sleep(0.5)
        check("upload cut off mid-body: no file, no temporary left",
              not os.path.exists(os.path.join(inputs, "half.pdx")) and not leftovers(inputs), str(leftovers(inputs)))

        status = request(port, "POST", "/api/structure/check", body=b"{" + b" " * (5 << 20) + b"}", headers=session)[0]
        check("a form request of 5 MiB: 413", status == 413, str(status))

        # Malformed HTTP: refused, and the next request is served.
        for raw in (b"GARBAGE\r\n\r\n", b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Length: -5\r\n\r\n" % port,
                    b"\x00\xff\xfe" * 1000 + b"\r\n\r\n", b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n"):
            s = socket.create_connection(("127.0.0.1", port))
            s.settimeout(15)
            s.sendall(raw)
            try:
                reply = s.recv(100)
            except (socket.timeout, ConnectionResetError):
                reply = b""
            s.close()
            check("malformed request %r...: no success" % raw[:16], not reply.startswith(b"HTTP/1.1 2"), reply[:20])
        check("served after malformed requests", request(port, "GET", "/api/project", headers=session)[0] == 200)

        # A survey to run, and paths that try to leave its output folder.
        pdx = open(os.path.join(source, "examples", "pddx", "survey.pdx"), "rb").read()
        request(port, "PUT", "/api/upload?name=survey.pdx", body=pdx, headers=session)
        status, _, body = request(port, "POST", "/api/surveys", body=json.dumps({"file": "survey.pdx"}), headers=session)
        name = json.loads(body)["survey"]
        structure = open(os.path.join(source, "examples", "pddx", "structure.csv")).read()
        open(os.path.join(inputs, name + ".structure.csv"), "w").write(structure)
        status, _, body = request(port, "POST", "/api/run", body=json.dumps({"run": name}), headers=session)
        second = request(port, "POST", "/api/run", body=json.dumps({"run": name}), headers=session)
        check("first run: 202", status == 202, str(status))
        check("second run while the first goes on: 409 with a message",
              second[0] == 409 and "going on" in json.loads(second[2])["error"], str(second[0]))
        other, other_port, other_key = start(project)
        other_headers = {"Host": "127.0.0.1:%d" % other_port}
        _, h, _ = request(other_port, "GET", "/?key=" + other_key, headers=other_headers)
        other_headers["Cookie"] = h["Set-Cookie"].split(";")[0]
        status, _, body = request(other_port, "POST", "/api/run", body=json.dumps({"run": name}), headers=other_headers)
        check("a run from a second workbench on the same folder meanwhile: 409", status == 409, str(status))
        for _ in range(600):
            answer = json.loads(request(port, "GET", "/api/project", headers=session)[2])
            check_state = "state" in answer
            if not check_state or not answer["state"]["running"]:
                break
            time.sleep(0.1)
        check("the project answers while its first run creates the database", check_state, str(answer))
        rows = [l for l in open(os.path.join(project, "manifest.csv")).read().splitlines()[1:] if l]
        check("one manifest row for the survey after both", len(rows) == 1, str(rows))
        for path in ("/files/%s/..%%2F..%%2Fmanifest.csv" % name, "/files/..%2F..%2Fmanifest.csv/x",
                     "/files/%s/%%2e%%2e" % name, "/files/.%s.partial.1/stations.csv" % name,
                     "/files/%s/..%%2Fresults.sqlite" % name, "/app/..%2F..%2Fmanifest.csv", "/files/../inputs/survey.pdx"):
            status, _, body = request(port, "GET", path, headers=session)
            check("download %s: refused" % path, status in (400, 403, 404) and b"name,source" not in body, str(status))
        status, headers, body = request(port, "GET", "/files/%s/stations.csv" % name, headers=session)
        check("download of a run's file: 200, the file's bytes",
              status == 200 and body == open(os.path.join(project, "out", "surveys", name, "stations.csv"), "rb").read())
        status, _, body = request(port, "GET", "/download/results.sqlite", headers=session)
        check("download of the database: a SQLite file", status == 200 and body.startswith(b"SQLite format 3\x00"))
    finally:
        for p in (server, other):
            if p:
                p.terminate()
                p.wait(timeout=20)

if failures:
    print("%d cases failed" % len(failures))
    sys.exit(1)
print("PASS")
