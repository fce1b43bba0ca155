"""moto's S3 server on 127.0.0.1, reached by boto3 through AWS_ENDPOINT_URL."""

import logging
import urllib.request

from moto.server import ThreadedMotoServer


class LocalS3:
    def __init__(self):
        logging.getLogger("werkzeug").setLevel(logging.WARNING)
        self._server = ThreadedMotoServer(ip_address="127.0.0.1", port=0, verbose=False)

    def start(self):
        self._server.start()
        return self

    def stop(self):
        self._server.stop()

    @property
    def endpoint_url(self):
        host, port = self._server.get_host_and_port()
        return "http://%s:%d" % (host, port)

    def reset(self):
        request = urllib.request.Request(self.endpoint_url + "/moto-api/reset", method="POST")
        urllib.request.urlopen(request).close()
