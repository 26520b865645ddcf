"""Starts `gfpdb serve` as a child in throw-away folders, for the API and browser tests."""
import os
import re
import shutil
import subprocess
import tempfile


class Server:
    def __init__(self, gfpdb, data, settings=()):
        self.tmp = tempfile.mkdtemp(prefix="gfpdb-serve-test-")
        self.host = os.path.join(self.tmp, "host")
        shutil.copytree(os.path.abspath(data), self.host)
        self.custom = os.path.join(self.tmp, "custom")
        os.mkdir(self.custom)
        env = dict(os.environ, HOME=self.tmp, GFPDB_USER_INI=os.path.join(self.tmp, "user.ini"))
        self.process = subprocess.Popen(
            [os.path.abspath(gfpdb), "--host-dir", self.host, "--custom-dir", self.custom, *settings, "serve"],
            env=env, cwd=self.tmp, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"(http://127\.0\.0\.1:(\d+)/)#token=([0-9a-f]+)", line)
        if not found:
            self.stop()
            raise RuntimeError("no address from gfpdb serve: " + line)
        self.url, self.port, self.token = found.group(1), int(found.group(2)), found.group(3)
        self.page = self.url + "#token=" + self.token

    def stop(self):
        """Stops the server as Ctrl-C does; answers its exit status and standard error."""
        self.process.send_signal(2)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        errors = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.tmp)
        return self.process.returncode, errors
