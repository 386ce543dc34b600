"""A host's side of the control block for end-to-end tests: creates the real POSIX
shared-memory object (/dev/shm/NAME), writes what a host writes, beats its heartbeat from
a thread, and reads back what the viewer writes."""
import mmap
import os
import threading
import time

SIZE = 4096
COMMAND, HOST_BEAT, VIEWER_BEAT, TERMINAL, KEY, VIEW_STATE = 0, 4, 5, 6, 7, 16
SEARCH, INFO, CAPTURE_STATE, CAPTURE_NAME = 32, 97, 2146, 2147
CONSOLE_ID, TITLE_FORMAT, PRINTER, CONNECTION = 2404, 2407, 2664, 2921

VC = dict(unknown=0, open=1, close=2, hide=3, handled=4, terminate=5, connected=6)
VS = dict(vsUnknown=0, vsClosed=1, vsOpening=2, vsSearching=3, vsOpen=4, vsIdle=5, vsClosing=6)
VS_NAME = {v: k for k, v in VS.items()}


class Block:
    def __init__(self, name, info='{"Source":"/nonexistent","Pattern":"ABC..."}', search="",
                 connection="", title_format="", console_id=0):
        self.name = name
        self.path = "/dev/shm/" + name
        fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600)
        os.ftruncate(fd, SIZE)
        self.mem = mmap.mmap(fd, SIZE, mmap.MAP_SHARED, mmap.PROT_READ | mmap.PROT_WRITE)
        os.close(fd)
        self.set_string(INFO, info)
        self.set_string(SEARCH, search)
        self.set_string(CONNECTION, connection)
        self.set_string(TITLE_FORMAT, title_format)
        self.mem[CONSOLE_ID:CONSOLE_ID + 2] = console_id.to_bytes(2, "little")
        self._beating = threading.Event()
        self._stop = threading.Event()
        self._thread = None

    def set_string(self, offset, text):
        data = text.encode("utf-8") + b"\0"
        self.mem[offset:offset + len(data)] = data

    def string(self, offset):
        end = self.mem.find(b"\0", offset)
        return self.mem[offset:end if end >= 0 else SIZE].decode("utf-8", "replace")

    def byte(self, offset):
        return self.mem[offset]

    def set_byte(self, offset, value):
        self.mem[offset] = value

    def send(self, command):
        self.set_byte(COMMAND, VC[command] if isinstance(command, str) else command)

    @property
    def state(self):
        return VS_NAME.get(self.byte(VIEW_STATE), str(self.byte(VIEW_STATE)))

    def start_heartbeat(self, period=0.1):
        self._beating.set()

        def run():
            beat = 0
            while not self._stop.is_set():
                if self._beating.is_set():
                    beat = (beat + 1) % 256
                    self.set_byte(HOST_BEAT, beat)
                time.sleep(period)

        self._thread = threading.Thread(target=run, daemon=True)
        self._thread.start()

    def pause_heartbeat(self):
        self._beating.clear()

    def resume_heartbeat(self):
        self._beating.set()

    def close(self):
        self._stop.set()
        if self._thread:
            self._thread.join()
        self.mem.close()
        try:
            os.unlink(self.path)
        except FileNotFoundError:
            pass


def wait_for(predicate, timeout=10.0, interval=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()
