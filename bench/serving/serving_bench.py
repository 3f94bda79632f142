#!/usr/bin/env python3
"""Serving benchmark of Seedlift (run by bench/serving/run.sh): one file served
over loopback by TCP Req_data to 1, 8 and 64 native peers, block cache cold
then warm, no upload limit; MB/s, CPU seconds per GB and peak memory of the
serving process. In the same run: the plain RC4 sender under Wine (a thread
per connection reading 256 KiB blocks, enciphering them with our RC4 and
sending each in one write, to clients that decipher as Seedlift's peers do),
nginx serving the same bytes to the same number of HTTP clients, our RC4
alone, and UDP blocks per second to 8 peers. Processor time is the serving
process's and its wineserver's, taken from /proc alike for both senders.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(TOP, "tests", "lib"))
sys.path.insert(0, os.path.join(TOP, "tests", "p2p"))
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402

FID = bytes(range(0x40, 0x50))  # the share's file id: any 16 bytes do
CACHE_MIB = 2400                # both buckets; a file lies in one, which gets half


def figures(line):
    """key=value pairs of a tool's output line."""
    out = {}
    for part in line.split():
        if "=" in part:
            k, v = part.split("=", 1)
            try:
                out[k] = float(v)
            except ValueError:
                out[k] = v
    return out


class Driver:
    """Seedlift.dll in the session driver under Wine, as OrchardSvc loads it."""

    def __init__(self, wine, work):
        self.p = subprocess.Popen([wine, "seedlift_session_driver.exe"], cwd=work, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)

    def ask(self, line, timeout=60):
        """The driver's answer, which starts with the command's word (or "ok <word>");
        the library's own lines on standard output are passed over."""
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()
        word = line.split()[0]
        deadline = time.time() + timeout
        while time.time() < deadline:
            answer = self.p.stdout.readline().strip()
            if answer.startswith(word) or answer.startswith("ok " + word):
                return answer
        raise RuntimeError("driver did not answer %r" % line)

    def stat(self):
        return figures(self.ask("stat"))


    def quit(self):
        try:
            self.ask("uninit", 60)
            self.ask("quit", 10)
        except (RuntimeError, BrokenPipeError, OSError):
            pass
        try:
            self.p.wait(30)
        except subprocess.TimeoutExpired:
            self.p.kill()


CLOCK_TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of a process, every thread of it, from /proc."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICK


def wineserver_pid():
    """The wineserver of this run's prefix: Wine programs' waits, events and
    socket calls go through it, so its time counts as the serving process's."""
    prefix = os.environ.get("WINEPREFIX", "")
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % name) as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % name, "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0"):
                    return int(name)
        except OSError:
            continue
    return None


class CpuMeter:
    """Processor time of one Wine process and the wineserver between start() and stop()."""

    def __init__(self, pid):
        self.pid, self.server = pid, wineserver_pid()

    def sample(self):
        return cpu_seconds(self.pid), cpu_seconds(self.server) if self.server else 0.0

    def start(self):
        self.t0 = self.sample()

    def stop(self):
        t1 = self.sample()
        self.process, self.wineserver = t1[0] - self.t0[0], t1[1] - self.t0[1]
        return self.process + self.wineserver


def native(peer, *args):
    out = subprocess.run([peer] + [str(a) for a in args], capture_output=True, text=True, timeout=1800)
    if out.returncode != 0:
        raise RuntimeError("native peer failed: %s %s" % (out.stdout, out.stderr))
    return figures(out.stdout.strip().splitlines()[-1])


def write_ini(work, path, text):
    with open(os.path.join(work, path), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


def serve_seedlift(args, size, counts, results):
    work = tempfile.mkdtemp(prefix="orchard_serving_bench_")
    for name in os.listdir(args.bin):
        if name.lower().endswith(".dll") or name == "seedlift_session_driver.exe":
            shutil.copy2(os.path.join(args.bin, name), work)
    ports = dict(cp_port=free_port(), cp_tcp_port=0, sp_port=free_port(), up_port=free_port(socket.SOCK_STREAM),
                 nat_port=free_port())
    tcp_port = free_port(socket.SOCK_STREAM)
    write_ini(work, "P2PCfg.ini", "[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\nDebug=0\n"
              "MaxCacheSize=%d\nCacheBlockSize=256\nUploadThreadCount=10\n[AdvanceSet]\nUserID=0\n"
              % (tcp_port, ports["cp_port"], CACHE_MIB))
    doubles = p2p_doubles.Doubles(echo=False, **ports).start()
    file_win = "Z:" + os.path.abspath(args.file).replace("/", "\\")
    try:
        for k in counts:
            logins = doubles.count("login")
            d = Driver(args.wine, work)
            try:
                udp_port = free_port()
                d.ask("init %d" % udp_port)
                if doubles.wait_for("login", 60, count=logins + 1) is None:
                    raise RuntimeError("Seedlift did not log in")
                answer = d.ask("share %s %s" % (FID.hex(), file_win))
                if answer != "share 0":
                    raise RuntimeError("the file could not be shared: %s" % answer)
                meter = CpuMeter(d.p.pid)
                for run in ("cold", "warm"):
                    meter.start()
                    r = native(args.peer, "tcp", "--port", tcp_port, "--fid", FID.hex(), "--size", size,
                               "--peers", k, "--window", 3)
                    cpu = meter.stop()
                    t1 = d.stat()
                    gb = r["bytes"] / 1e9
                    results.append({"what": "seedlift tcp", "peers": k, "run": run, "mbps": r["mbps"],
                                    "cpu_per_gb": cpu / gb, "server_per_gb": meter.wineserver / gb,
                                    "peak_mib": t1["peak_mib"], "failed": r["failed"],
                                    "back_offs": r["back_offs"], "load": os.getloadavg()[0]})
                if k == 8:
                    peer_ports = [free_port() for _ in range(8)]
                    for i, p in enumerate(peer_ports):
                        doubles.relay_call_me(5000 + i, p, FID, size)
                    time.sleep(1)
                    r = native(args.peer, "udp", "--port", udp_port, "--fid", FID.hex(), "--size", size,
                               "--ports", ",".join(map(str, peer_ports)), "--seconds", 5, "--window", 8,
                               "--user-id", 5000)
                    results.append({"what": "seedlift udp", "peers": 8, "blocks_per_s": r["blocks_per_s"],
                                    "timed_out": r["timed_out"], "load": os.getloadavg()[0]})
            finally:
                d.quit()
    finally:
        doubles.stop()
        shutil.rmtree(work, ignore_errors=True)


def serve_nginx(args, size, counts, results):
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    if not os.path.exists(nginx):
        results.append({"what": "nginx", "missing": True})
        return
    prefix = tempfile.mkdtemp(prefix="orchard_nginx_")
    port = free_port(socket.SOCK_STREAM)
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write("worker_processes auto;\ndaemon off;\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
                "events { worker_connections 1024; }\n"
                "http { access_log off; sendfile on; tcp_nopush on; client_body_temp_path %s;\n"
                "  server { listen 127.0.0.1:%d; root %s; } }\n"
                % (prefix, prefix, prefix, port, os.path.dirname(os.path.abspath(args.file))))
    p = subprocess.Popen([nginx, "-c", conf, "-p", prefix], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        for k in counts:
            r = native(args.peer, "http", "--port", port, "--path", "/" + os.path.basename(args.file), "--size", size,
                       "--peers", k)
            results.append({"what": "nginx http", "peers": k, "mbps": r["mbps"], "load": os.getloadavg()[0]})
    finally:
        p.terminate()
        p.wait(10)
        shutil.rmtree(prefix, ignore_errors=True)


def serve_rc4_sender(args, size, counts, results):
    exe = os.path.join(args.bin, "winsock_sender.exe")
    for k in counts:
        port = free_port(socket.SOCK_STREAM)
        p = subprocess.Popen([args.wine, exe, "send", str(port), "Z:" + os.path.abspath(args.file).replace("/", "\\"),
                              str(k)], cwd=args.bin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            if "ready" not in p.stdout.readline():
                raise RuntimeError("the RC4 sender did not start")
            meter = CpuMeter(p.pid)
            meter.start()
            r = native(args.peer, "rc4", "--port", port, "--size", size, "--peers", k)
            cpu = meter.stop()
            gb = r["bytes"] / 1e9
            results.append({"what": "rc4 sender", "peers": k, "mbps": r["mbps"], "cpu_per_gb": cpu / gb,
                            "server_per_gb": meter.wineserver / gb, "load": os.getloadavg()[0]})
        finally:
            try:
                p.wait(60)
            except subprocess.TimeoutExpired:
                p.kill()
    out = subprocess.run([args.wine, exe, "rc4", "1024"], cwd=args.bin, capture_output=True, text=True, timeout=600)
    results.append({"what": "rc4 alone", "mbps": figures(out.stdout)["mbps"], "load": os.getloadavg()[0]})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="build/win/bin")
    ap.add_argument("--wine", default="wine")
    ap.add_argument("--peer", required=True, help="the native peer client (release build)")
    ap.add_argument("--file", required=True)
    ap.add_argument("--peers", default="1,8,64")
    args = ap.parse_args()
    args.bin, args.peer, args.file = (os.path.abspath(p) for p in (args.bin, args.peer, args.file))
    size = os.path.getsize(args.file)
    counts = [int(k) for k in args.peers.split(",")]
    results = []
    serve_rc4_sender(args, size, counts, results)
    serve_nginx(args, size, counts, results)
    serve_seedlift(args, size, counts, results)

    print("\nfile: %.0f MiB, cache %d MiB (%d per bucket); CPU s/GB: the process and its wineserver (of which"
          " the wineserver); load: the 1-minute load average when the figure was taken"
          % (size / 2 ** 20, CACHE_MIB, CACHE_MIB // 2))
    print("%-14s %5s %5s %9s %16s %9s %6s" % ("what", "peers", "run", "MB/s", "CPU s/GB", "peak MiB", "load"))
    for r in results:
        if "mbps" in r:
            cpu = "%.2f (%.2f)" % (r["cpu_per_gb"], r["server_per_gb"]) if "cpu_per_gb" in r else ""
            print("%-14s %5s %5s %9.1f %16s %9s %6.1f" % (r["what"], r.get("peers", ""), r.get("run", ""), r["mbps"],
                                                         cpu, "%.0f" % r["peak_mib"] if "peak_mib" in r else "",
                                                         r["load"]))
        elif "blocks_per_s" in r:
            print("%-14s %5d %5s %9s  %.0f blocks/s" % (r["what"], r["peers"], "", "", r["blocks_per_s"]))
        else:
            print("%-14s not measured (not installed)" % r["what"])

    def pick(what, peers=None, run=None):
        for r in results:
            if r["what"] == what and (peers is None or r.get("peers") == peers) and (run is None or r.get("run") == run):
                return r
        return None

    print("\nratios")
    ok = True
    for run in ("cold", "warm"):
        for k in (1, 8, 64):
            r = pick("seedlift tcp", k, run)
            ref = pick("rc4 sender", k)
            if r and ref:
                ratio = r["mbps"] / ref["mbps"]
                ok &= ratio >= 0.8
                print("  %2d peers (%s) / RC4 sender, %2d connections: %.2f (target >= 0.8)" % (k, run, k, ratio))
        one = pick("seedlift tcp", 1, run)
        eight = pick("seedlift tcp", 8, run)
        if one and eight:
            ratio = eight["mbps"] / one["mbps"]
            ok &= ratio >= 4
            print("  8 peers / 1 peer (%s): %.2f (target >= 4)" % (run, ratio))
        for k in (1, 8, 64):
            r = pick("seedlift tcp", k, run)
            ref = pick("rc4 sender", k)
            if r and ref:
                ratio = r["cpu_per_gb"] / ref["cpu_per_gb"]
                ok &= ratio <= 1.2
                print("  CPU per GB, %2d peers (%s) / RC4 sender's: %.2f (target <= 1.2)" % (k, run, ratio))
        for k in (1, 8, 64):
            r = pick("seedlift tcp", k, run)
            n = pick("nginx http", k)
            if r and n:
                print("  seedlift / nginx, %d peers (%s): %.2f" % (k, run, r["mbps"] / n["mbps"]))
    for k in (1, 8, 64):
        r = pick("seedlift tcp", k, "warm")
        if r:
            budget = CACHE_MIB + k
            ok &= r["peak_mib"] <= budget
            print("  peak memory, %d peers: %.0f MiB of %d MiB (the configured cache + 1 MiB per user)"
                  % (k, r["peak_mib"], budget))
    udp = pick("seedlift udp", 8)
    if udp:
        print("  UDP to 8 peers: %.0f blocks/s" % udp["blocks_per_s"])
    print("targets %s" % ("met" if ok else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
