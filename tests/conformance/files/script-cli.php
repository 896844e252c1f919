#!/usr/bin/env php
<?php
// conformance command-line script
echo "Hello\n";
