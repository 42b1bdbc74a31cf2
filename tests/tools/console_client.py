"""A client of kxtool serve for the tests: starts it, reads its link, and
sends requests with exactly the headers a test chooses (Host included).
"""
import http.client
import json
import re
import signal
import subprocess


class Console:
    def __init__(self, command, env=None):
        """command: kxtool serve --port 0 --no-open, and any options."""
        self.run = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    text=True, env=env)
        self.url = self.run.stdout.readline().strip()
        m = re.fullmatch(r"http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+)", self.url)
        self.port, self.token = (int(m[1]), m[2]) if m else (0, "")
        self.host = f"127.0.0.1:{self.port}"
        self.origin = f"http://{self.host}"
        self.cookie = ""

    def send(self, method, target, headers, body=None, stream=False):
        """status, headers (lower-case names), body; headers: None leaves one out."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        c.putrequest(method, target, skip_host=True, skip_accept_encoding=True)
        for name, value in headers.items():
            if value is not None:
                c.putheader(name, value)
        if body is not None:
            c.putheader("Content-Length", str(len(body)))
        c.endheaders(body.encode() if body is not None else None)
        r = c.getresponse()
        got = {k.lower(): v for k, v in r.getheaders()}
        data = r.read1(65536) if stream else r.read()
        c.close()
        return r.status, got, data.decode(errors="replace")

    def api(self, method, target, body=None, **changed):
        """A request as the page sends it, with headers replaced by changed
        (names with '_' for '-'; None leaves one out)."""
        headers = {"Host": self.host, "Cookie": self.cookie, "X-KX-Request": "1"}
        if method == "POST":
            headers |= {"Origin": self.origin, "Content-Type": "application/json"}
        headers |= {k.replace("_", "-"): v for k, v in changed.items()}
        return self.send(method, target, headers,
                         json.dumps(body) if isinstance(body, dict) else body,
                         stream=target == "/api/events")

    def post(self, target, body):
        status, _, data = self.api("POST", target, body)
        return status, json.loads(data)

    def open(self):
        """Swaps the link's token for the session cookie, as the browser does."""
        status, headers, _ = self.send("GET", f"/?token={self.token}", {"Host": self.host})
        self.cookie = headers.get("set-cookie", "").split(";")[0]
        return status, headers

    def stop(self):
        """Ctrl-C: exit code, stdout and stderr."""
        self.run.send_signal(signal.SIGINT)
        out, err = self.run.communicate(timeout=30)
        return self.run.returncode, out, err
