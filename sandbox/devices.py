"""The devices that the sandbox makes, and what it reads of them and of the
platform's records, through the sandbox helper (sandbox/helper.cpp): the
simulated devices, each device's driver, a service's state and
configuration, and what the platform records of an installed program."""

import traces


class Devices:
    """For a Prefix: runs the helper there."""

    def _helper(self, *arguments):
        """The helper's output for a command. It always prints a line: a
        start that printed nothing ended before the helper ran (seen once
        under Wine 8, a start of no time at all), and starts again."""
        for _ in range(2):
            output = self.wine([self.helper, *arguments])
            if output:
                break
        return output

    def add_device(self, *hardware_ids):
        """A simulated device for each hardware ID, in one start."""
        report = self._helper("add-device", *hardware_ids)
        if report.count("device=") != len(hardware_ids):
            raise RuntimeError("cannot create the devices: " + report)

    def play_device_state(self, hardware_id, status=None, problem=None):
        """Gives each device with the hardware ID the state that Windows would
        report after an installation: its DEVPKEY_Device_DevNodeStatus and
        DEVPKEY_Device_ProblemCode, numbers; with neither, takes it away.
        Wine keeps no device state (its CM_Get_DevNode_Status is a stub, and
        no driver it loads sets a problem): its SetupDiGetDevicePropertyW
        reads what its SetupDiSetDevicePropertyW wrote, which the helper calls
        here, and the program reads that through Wine's own code."""
        numbers = [] if status is None else ["0x%X" % status, str(problem)]
        report = self._helper("device-state", hardware_id, *numbers)
        if "error." in report or (status is not None and "devices=0" in report):
            raise RuntimeError("cannot play the devices' state: " + report)

    def driver(self, hardware_id, *values):
        """The driver of each device with the hardware ID: a list of dicts."""
        devices = []
        for line in self._helper("driver", hardware_id, *values).splitlines():
            key, _, value = line.partition("=")
            if key == "device":
                devices.append({})
            if key != "devices":
                devices[-1][key] = traces.unescape(value)
        return devices

    def _fields(self, *arguments):
        """The helper's key=value lines for a command: a dict."""
        fields = {}
        for line in self._helper(*arguments).splitlines():
            key, _, value = line.partition("=")
            fields[key] = traces.unescape(value)
        return fields

    def service(self, name, *values):
        """The service's state, configuration and Parameters values: a dict."""
        return self._fields("service", name, *values)

    def product(self, name):
        """What the platform records of an installed program: its Windows
        Installer state (msi.state) when name is a product code, and its
        entry among the installed programs (uninstall.*): a dict."""
        return self._fields("product", name)
