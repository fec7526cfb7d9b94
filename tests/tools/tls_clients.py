"""FTP over TLS clients (the standard library's FTP_TLS) and test certificates, for the
tests of the host's TLS modes and of the vsftpd fixture."""

import ftplib
import pathlib
import socket
import ssl
import subprocess
import tempfile

MAKE_CERTIFICATES = (
    pathlib.Path(__file__).resolve().parents[1] / "support" / "make_test_certificates.sh"
)


class TestCertificates:
    """The certificates of tests/support/make_test_certificates.sh, in a temporary folder."""

    def __init__(self):
        self._folder = tempfile.TemporaryDirectory(prefix="tls-test-certificates-")
        self.folder = pathlib.Path(self._folder.name)
        subprocess.run(["/bin/sh", str(MAKE_CERTIFICATES), str(self.folder)], check=True)

    def pem(self, name):
        return str(self.folder / (name + ".pem"))

    def key(self, name):
        return str(self.folder / (name + ".key"))

    def cleanup(self):
        self._folder.cleanup()


class ExplicitFTP_TLS(ftplib.FTP_TLS):
    """AUTH TLS after the greeting; every data connection resumes the control
    connection's TLS session, as hosts that insist on it require."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host,
                                            session=self.sock.session)
        return conn, size


class ImplicitFTP_TLS(ExplicitFTP_TLS):
    """TLS from the first byte: the greeting already comes secured."""

    def connect(self, host="", port=0, timeout=-999, source_address=None):
        self.host, self.port = host, port
        if timeout != -999:
            self.timeout = timeout
        raw = socket.create_connection((host, port), self.timeout)
        self.af = raw.family
        try:
            self.sock = self.context.wrap_socket(raw, server_hostname=host)
        except BaseException:
            raw.close()
            raise
        self.file = self.sock.makefile("r", encoding=self.encoding)
        self.welcome = self.getresp()
        return self.welcome


def client_context(certificates, highest=None):
    """Trusts the test authority and checks the name, as a careful client does."""
    context = ssl.create_default_context(cafile=certificates.pem("ca"))
    if highest:
        context.maximum_version = highest
    return context


def secured_client(mode, port, context, timeout):
    """A client connected (and, explicitly, secured) to 127.0.0.1:port, not logged on."""
    kind = ImplicitFTP_TLS if mode == "implicit" else ExplicitFTP_TLS
    ftp = kind(context=context, timeout=timeout, encoding="latin-1")
    try:
        ftp.connect("127.0.0.1", port)
        if mode == "explicit":
            ftp.auth()
    except BaseException:
        ftp.close()
        raise
    return ftp
