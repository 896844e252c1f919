<?php
// conformance page
$name = 'world';
echo "Hello $name";
?>
