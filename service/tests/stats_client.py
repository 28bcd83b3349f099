"""Posts installer reports to a zetora-stats service, as the installer forms them."""
import http.client

BOUNDARY = "--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG"


def body(sid, line, channel="demo", osv=130, osvi=7601):
    return ("Op=Functionwebinst Type=vxdowninstall2 Version=1.0.0.1 Sid=%s From=%s Mode=Clickonce PcCode=PC "
            "Uinf=1-2 Time=2013_05_06_07_08_09 Rnd= Osv=%d Osvi=%d %s\r\n" % (sid, channel, osv, osvi, line)).encode("utf-8")


def form(report):
    d = ("--" + BOUNDARY + "\r\n").encode()
    out = b""
    for name, value, end in (("product_name", b"browser", b"\r\n"), ("product_version", b"1.0", b"\r\n"),
                             ("statistics_type", b"Functionwebinst", b"\r\n"), ("security_level", b"4", b"\r\n"),
                             ("raw_file_size", str(len(report)).encode(), b"\n")):
        out += d + b'Content-Disposition: form-data; name="' + name.encode() + b'";\r\n\r\n' + value + end
    out += d + b'Content-Disposition: form-data; name="userfile"; filename="data.dat";\r\nContent-Type: application/x-gzip\r\n\r\n'
    return out + report + b"\r\n--" + BOUNDARY.encode() + b"--\r\n"


def post(port, report, timeout=10):
    """Returns the status, or None when the connection failed."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request("POST", "/stat_report.fcgi", form(report),
                     {"Content-Type": "multipart/form-data; boundary=" + BOUNDARY, "Connection": "close"})
        return conn.getresponse().status
    except OSError:
        return None
    finally:
        conn.close()
